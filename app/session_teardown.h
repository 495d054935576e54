#pragma once

namespace Ui {
class MainWindow;
}

// Ends a session with the instrument: closes the firmware file, detaches the
// reply callback before closing the input, closes the output, and empties the
// port lists and the file path. Closing what is not open does nothing, so this
// serves both the end of an upload and the window's teardown.
void closeFileAndDevices(Ui::MainWindow &ui);
