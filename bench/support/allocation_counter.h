#pragma once

// Counts heap allocations made by any thread of the process while counting is
// on. Compiling allocation_counter.cpp into a program replaces its global
// operator new, so only the test and the benchmark that measure allocations
// build it in.
void startCountingAllocations();
// Stops counting and returns the allocations made since the start.
long stopCountingAllocations();
