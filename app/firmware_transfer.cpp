#include "firmware_transfer.h"

#include "action_errors.h"
#include "device_id.h"
#include "mainwindow.h"
#include "reply_flags.h"
#include "shared_objects.h"
#include "ui_mainwindow.h"
#include "wait_step.h"

namespace {

constexpr int kAckPollMs = 5;
constexpr int kAckChecks = 1000; // with 999 wait steps between them
constexpr int kAfterAckMs = 250;
constexpr int kBetweenBlocksMs = 30;

} // namespace

FirmwareTransfer::FirmwareTransfer(MainWindow &window, Ui::MainWindow &ui)
    : window_(window), ui_(ui)
{
}

bool FirmwareTransfer::run()
{
    blockCount_ = blockCountForSize(firmwareFile.size());
    window_.appendLog(MainWindow::tr("Prepare for update"));
    try {
        return sendBlocks();
    } catch (const RtMidiError &error) {
        // The output could not play a block (the instrument went away, the
        // MIDI service stopped): the instrument does not have the image.
        window_.appendLog(midiErrorText(error));
        return false;
    }
}

bool FirmwareTransfer::sendBlocks()
{
    const qint64 remainder = firmwareFile.size() % static_cast<qint64>(kBlockDataSize);
    unsigned int blockNumber = 1;
    // Driven by the bytes left in the file; the count decides the length of
    // the last block and that no pause follows it.
    while (firmwareFile.bytesAvailable() > 0) {
        if (blockNumber > blockCount_)
            return reportFileChanged();
        const qint64 wanted = (blockNumber == blockCount_ && remainder != 0)
                                  ? remainder
                                  : static_cast<qint64>(kBlockDataSize);
        unsigned char data[kBlockDataSize];
        const qint64 got = firmwareFile.read(reinterpret_cast<char *>(data), wanted);
        if (got != wanted) {
            window_.appendLog(MainWindow::tr("Could not read the firmware file: ") +
                              firmwareFile.errorString());
            return false;
        }
        sent_.addData(reinterpret_cast<const char *>(data), static_cast<int>(got));
        buildDataBlockMessage(message_, deviceId(), blockNumber, blockCount_, data,
                              static_cast<std::size_t>(got));
        showProgress(blockNumber);

        if (blockNumber == 1) {
            if (!sendFirstBlockAndAwaitAcknowledgement())
                return false;
            waitStep(kAfterAckMs);
            window_.appendLog(MainWindow::tr("Updating"));
        } else if (blockNumber == blockCount_) {
            send();
        } else {
            send();
            waitStep(kBetweenBlocksMs);
        }
        ++blockNumber;
    }
    // A file cut short ends the loop early; one rewritten in place keeps its
    // size and reads without error, yet the instrument got blocks of two
    // images. Only a file that still holds exactly what was sent makes a
    // finished update.
    if (blockNumber - 1 != blockCount_ || !fileStillHoldsWhatWasSent())
        return reportFileChanged();
    return true;
}

bool FirmwareTransfer::reportFileChanged()
{
    window_.appendLog(MainWindow::tr("The firmware file changed during the update."));
    return false;
}

bool FirmwareTransfer::fileStillHoldsWhatWasSent()
{
    QCryptographicHash now(QCryptographicHash::Sha256);
    return firmwareFile.seek(0) && now.addData(&firmwareFile) && now.result() == sent_.result();
}

bool FirmwareTransfer::sendFirstBlockAndAwaitAcknowledgement()
{
    // Cleared before the send, so an acknowledgement that arrives while the
    // block is still being played out is not lost.
    clearAcknowledgement();
    send();
    for (int checks = 1; !acknowledgementReceived(); ++checks) {
        if (checks >= kAckChecks)
            return false;
        // An output whose server stopped or whose instrument vanished will
        // carry no further block: fail now, not after the whole wait.
        midi.midiOut.checkStream();
        waitStep(kAckPollMs);
    }
    return true;
}

void FirmwareTransfer::send()
{
    midi.midiOut.sendStream(message_.data(), message_.size());
}

int progressPercent(unsigned blockNumber, unsigned blockCount)
{
    // The product stays in float: in double, block 29 of 100 would show 28.
    const float fraction = static_cast<float>(blockNumber) / static_cast<float>(blockCount);
    return static_cast<int>(fraction * 100.0f);
}

void FirmwareTransfer::showProgress(unsigned int blockNumber)
{
    ui_.progressBar->setValue(progressPercent(blockNumber, blockCount_));
}
