// Refresh: re-reads the port lists and chooses the device id.
#include "mainwindow.h"

#include "action_errors.h"
#include "device_id.h"
#include "port_names.h"
#include "shared_objects.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_clicked()
{
    runReportingMidiErrors([this] {
        ui->cBInput->clear();
        ui->cBOutput->clear();

        const unsigned int inputCount = midi.midiIn.getPortCount();
        for (unsigned int i = 0; i < inputCount; ++i) {
            const QString model =
                modelWordOfPort(QString::fromStdString(midi.midiIn.getPortName(i)));
            if (!model.isEmpty())
                ui->cBInput->addItem(model);
        }

        // Every supported output port sets the device id, so the one with the
        // highest index decides it, whatever entry is current.
        const unsigned int outputCount = midi.midiOut.getPortCount();
        for (unsigned int j = 0; j < outputCount; ++j) {
            const QString model =
                modelWordOfPort(QString::fromStdString(midi.midiOut.getPortName(j)));
            if (!model.isEmpty()) {
                ui->cBOutput->addItem(model);
                setDeviceId(deviceIdForModel(model.toStdString()));
            }
        }
    });
}
