#include "session_teardown.h"

#include "shared_objects.h"
#include "ui_mainwindow.h"

void closeFileAndDevices(Ui::MainWindow &ui)
{
    firmwareFile.close();
    // Without a callback RtMidi only warns on standard error; the rest goes on.
    midi.midiIn.cancelCallback();
    midi.midiIn.closePort();
    midi.midiOut.closePort();
    ui.cBInput->clear();
    ui.cBOutput->clear();
    ui.lineEdit->clear();
}
