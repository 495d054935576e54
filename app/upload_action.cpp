// Upload FW: sends the firmware image to the instrument.
#include "mainwindow.h"

#include "action_errors.h"
#include "buttons_disabled.h"
#include "close_refusal.h"
#include "device_id.h"
#include "error_box.h"
#include "firmware_transfer.h"
#include "messages.h"
#include "session_teardown.h"
#include "shared_objects.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_8_clicked()
{
    if (!midi.midiIn.isPortOpen() || !midi.midiOut.isPortOpen()) {
        showErrorBox(tr("Open devices!"));
        return;
    }
    if (!firmwareFile.isOpen()) {
        showErrorBox(tr("Open file!"));
        return;
    }
    // Block numbers travel as 14-bit fields: a larger image would be numbered
    // wrongly, so it is refused before anything is sent.
    if (firmwareFile.size() > kMaxImageSize) {
        showErrorBox(tr("Firmware file too large!"));
        return;
    }

    ButtonsDisabled busy(*ui);
    CloseRefusal closeRefusal(*this);
    FirmwareTransfer transfer(*this, *ui);
    const bool finished = transfer.run();
    appendLog(finished ? tr("Update finished") : tr("Update failed"));

    ui->progressBar->setValue(0);
    closeFileAndDevices(*ui);
}
