// Open: opens the instrument's ports and asks for its firmware version.
#include "mainwindow.h"

#include "action_errors.h"
#include "buttons_disabled.h"
#include "device_id.h"
#include "error_box.h"
#include "messages.h"
#include "port_names.h"
#include "reply_callback.h"
#include "reply_flags.h"
#include "shared_objects.h"
#include "ui_mainwindow.h"
#include "wait_step.h"

namespace {

constexpr int kVersionPollMs = 5;
constexpr int kVersionPollSteps = 200;

// Whether the selection of one side is usable; tells the user when it is not.
bool selectionPresent(const QString &selectedText)
{
    if (!selectedText.isEmpty())
        return true;
    showErrorBox(QCoreApplication::translate("MainWindow", "No Tarnwick device connected!"));
    return false;
}

// Asks the instrument for its firmware version and logs the answer, or the
// fallback when none comes within 200 steps of 5 ms.
void queryFirmwareVersion(MainWindow &window)
{
    clearVersionReceived();
    const auto request = buildVersionRequest(deviceId());
    midi.midiOut.sendStream(request.data(), request.size());

    // The flag is tested before each wait step only: a reply that comes in
    // during the last step still ends in the fallback.
    int steps = 0;
    while (!versionReceived()) {
        waitStep(kVersionPollMs);
        if (++steps >= kVersionPollSteps) {
            setVersionBytes(1, 0, 0);
            window.appendLog(MainWindow::tr("Version 1.0.X"));
            return;
        }
    }
    const auto version = versionBytes();
    window.appendLog(MainWindow::tr("Firmware version ") + QString::number(version[0]) +
                     QLatin1Char('.') + QString::number(version[1]) + QLatin1Char('.') +
                     QString::number(version[2]));
}

} // namespace

void MainWindow::on_pushButton_2_clicked()
{
    ButtonsDisabled busy(*ui);
    bool openedInput = false;
    bool openedOutput = false;

    const auto action = [&] {
        const unsigned int inputCount = midi.midiIn.getPortCount();
        for (unsigned int i = 0; i < inputCount; ++i) {
            const QString name = QString::fromStdString(midi.midiIn.getPortName(i));
            if (!selectionPresent(ui->cBInput->currentText()))
                return;
            // The lowest-index matching port is opened; later matches are skipped.
            if (portMatchesSelection(name, ui->cBInput->currentText()) &&
                !midi.midiIn.isPortOpen()) {
                midi.midiIn.openPort(i, "RtMidi Input");
                openedInput = true;
                midi.midiIn.ignoreTypes(false, false, false);
                midi.midiIn.setCallback(&replyCallback, nullptr);
                appendLog(tr("Opened input port ") + modelWordOfPort(name));
            }
        }

        const unsigned int outputCount = midi.midiOut.getPortCount();
        for (unsigned int j = 0; j < outputCount; ++j) {
            const QString name = QString::fromStdString(midi.midiOut.getPortName(j));
            if (!selectionPresent(ui->cBOutput->currentText()))
                return;
            if (portMatchesSelection(name, ui->cBOutput->currentText()) &&
                !midi.midiOut.isPortOpen()) {
                midi.midiOut.openStreamPort(j, "RtMidi Output");
                openedOutput = true;
                appendLog(tr("Opened output port ") + modelWordOfPort(name));
                queryFirmwareVersion(*this);
            }
        }
    };

    // A port that fails to open, or a request the port cannot play, leaves
    // nothing of this press open. The lists are emptied too, as after a
    // failed upload: they offer an instrument that could not be reached, and
    // the next try starts from Refresh.
    const auto closeWhatWasOpened = [&] {
        if (openedInput) {
            midi.midiIn.cancelCallback();
            midi.midiIn.closePort();
        }
        if (openedOutput)
            midi.midiOut.closePort();
        ui->cBInput->clear();
        ui->cBOutput->clear();
    };
    runReportingMidiErrors(action, closeWhatWasOpened);
}
