#include "mainwindow.h"

#include "action_guards.h"
#include "device_id.h"
#include "error_reporting.h"
#include "firmware_transfer.h"
#include "port_names.h"
#include "session.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace {

// Whether the selection of one side is usable; tells the user when it is not.
bool selectionPresent(const QString &selectedText)
{
    if (!selectedText.isEmpty())
        return true;
    showErrorBox(QCoreApplication::translate("MainWindow", "No Tarnwick device connected!"));
    return false;
}

// The upload's lines go to the log pane, its progress to the bar.
class WindowTransferObserver : public TransferObserver
{
public:
    WindowTransferObserver(MainWindow &window, QProgressBar &bar) : window_(window), bar_(bar) {}
    void log(const QString &line) override { window_.appendLog(line); }
    void progress(int percent) override { bar_.setValue(percent); }

private:
    MainWindow &window_;
    QProgressBar &bar_;
};

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // Closing the window must end the program even while an action waits in
    // its nested event loop: Qt's own quit on the last window closed was seen
    // not to come then, leaving the program running with no window and the
    // ports open. Quitting ends the waits at once and the teardown runs.
    connect(qApp, &QGuiApplication::lastWindowClosed, qApp, &QCoreApplication::quit,
            Qt::UniqueConnection);
    // The port lists are filled the same way "Refresh" fills them.
    on_pushButton_clicked();
}

// Release the file and both ports before the widgets go, so nothing the window
// opened outlives it. The callback goes before the input port it serves.
MainWindow::~MainWindow()
{
    closeFileAndPorts();
    clearPortListsAndPath();
    delete ui;
}

void MainWindow::appendLog(const QString &text)
{
    ui->textEdit->append(text);
}

void MainWindow::adviseOnStoppedServer()
{
    if (midiServerStopped())
        appendLog(tr("The MIDI server stopped while the updater was running: press Refresh once "
                     "it runs again."));
}

void MainWindow::clearPortListsAndPath()
{
    ui->cBInput->clear();
    ui->cBOutput->clear();
    ui->lineEdit->clear();
}

// Refresh: re-reads the port lists.
void MainWindow::on_pushButton_clicked()
{
    runReportingMidiErrors([this] {
        ui->cBInput->clear();
        ui->cBOutput->clear();

        for (const InstrumentPort &port : instrumentInputPorts())
            ui->cBInput->addItem(port.model);
        for (const InstrumentPort &port : instrumentOutputPorts())
            ui->cBOutput->addItem(port.model);
    });
}

// Open: opens the instrument's ports and asks for its firmware version.
void MainWindow::on_pushButton_2_clicked()
{
    ButtonsDisabled busy(*this);
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
                const QString line = openReplyInput(i, name);
                openedInput = true;
                appendLog(line);
            }
        }

        const unsigned int outputCount = midi.midiOut.getPortCount();
        for (unsigned int j = 0; j < outputCount; ++j) {
            const QString name = QString::fromStdString(midi.midiOut.getPortName(j));
            if (!selectionPresent(ui->cBOutput->currentText()))
                return;
            if (portMatchesSelection(name, ui->cBOutput->currentText()) &&
                !midi.midiOut.isPortOpen()) {
                // The request and every block carry the id of the model whose
                // port is opened, whichever other instruments are attached.
                setDeviceId(deviceIdForModel(modelWordOfPort(name).toStdString()));
                const QString line = openStreamOutput(j, name);
                openedOutput = true;
                appendLog(line);
                appendLog(queryFirmwareVersion());
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
    // A refused open: the box keeps the error's text, the log also names the
    // platform's call and its result, for a report.
    const auto logRefusal = [&] {
        try {
            action();
        } catch (const RtMidiError &error) {
            const QString detail = openRefusalLogText(error);
            if (!detail.isEmpty())
                appendLog(detail);
            throw;
        }
    };
    if (!runReportingMidiErrors(logRefusal, closeWhatWasOpened))
        adviseOnStoppedServer();
}

// Open FW: chooses the firmware image and opens it.
void MainWindow::on_pushButton_6_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open Firmware"), QString(),
                                                      tr("Binary files (*.bin)"));
    ui->lineEdit->setText(path);

    // A new choice always replaces the previous one, also when it fails or is
    // cancelled: the upload checks whether a file is open.
    firmwareFile.close();
    firmwareFile.setFileName(path);
    // Only a regular file is an image: opening a named pipe waits for a writer
    // with the window frozen, and a device has no size to number blocks by.
    // Anything else stays closed, so "Upload FW" answers "Open file!".
    if (QFileInfo(path).isFile())
        firmwareFile.open(QIODevice::ReadOnly);
}

// Upload FW: sends the firmware image to the instrument. The transfer does the
// checks, the sending and the closing; the window shows a refusal, guards the
// run and empties its lists afterwards.
void MainWindow::on_pushButton_8_clicked()
{
    WindowTransferObserver observer(*this, *ui->progressBar);
    FirmwareTransfer transfer(observer);
    const TransferRefusal refusal = transfer.check();
    if (refusal != TransferRefusal::None) {
        showErrorBox(refusalText(refusal));
        return;
    }
    ButtonsDisabled busy(*this);
    CloseRefusal closeRefusal(*this);
    if (!transfer.run())
        adviseOnStoppedServer();
    clearPortListsAndPath();
}
