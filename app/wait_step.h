#pragma once

// Pauses the calling slot for about `milliseconds` while the window keeps
// processing events (painting, clicks, timers). Started while another wait step
// is running, it returns at once: the shared loop cannot run twice, and its
// timer later ends the outer step early.
void waitStep(int milliseconds);
