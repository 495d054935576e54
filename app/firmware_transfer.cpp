#include "firmware_transfer.h"

#include "device_id.h"
#include "reply_flags.h"
#include "session.h"

namespace {

constexpr int kAckPollMs = 5;
constexpr int kAckChecks = 1000; // with 999 wait steps between them
constexpr int kAfterAckMs = 250;
constexpr int kBetweenBlocksMs = 30;

} // namespace

int progressPercent(unsigned blockNumber, unsigned blockCount)
{
    // The product stays in float: in double, block 29 of 100 would show 28.
    const float fraction = static_cast<float>(blockNumber) / static_cast<float>(blockCount);
    return static_cast<int>(fraction * 100.0f);
}

QString refusalText(TransferRefusal refusal)
{
    switch (refusal) {
    case TransferRefusal::None:
        break;
    case TransferRefusal::PortsNotOpen:
        return FirmwareTransfer::tr("Open devices!");
    case TransferRefusal::FileNotOpen:
        return FirmwareTransfer::tr("Open file!");
    case TransferRefusal::FileEmpty:
        return FirmwareTransfer::tr("Firmware file is empty!");
    case TransferRefusal::FileTooLarge:
        return FirmwareTransfer::tr("Firmware file too large!");
    case TransferRefusal::CycleTooShort:
        return FirmwareTransfer::tr(
            "PipeWire runs at too short a cycle (under 1024 frames at 48 kHz) for the updater "
            "to see a lost piece: the update was not started. Close the programs that ask for "
            "low latency, or run pw-metadata -n settings 0 clock.force-quantum 1024, and update "
            "again.");
    }
    return QString();
}

QString pleaseWaitText()
{
    return FirmwareTransfer::tr("Please wait until the update has finished.");
}

FirmwareTransfer::FirmwareTransfer(TransferObserver &observer) : observer_(observer) {}

TransferRefusal FirmwareTransfer::check()
{
    admitted_ = false;
    if (!midi.midiIn.isPortOpen() || !midi.midiOut.isPortOpen())
        return TransferRefusal::PortsNotOpen;
    if (!firmwareFile.isOpen())
        return TransferRefusal::FileNotOpen;
    // Block numbers travel as 14-bit fields: a larger image would be numbered
    // wrongly, so it is refused before anything is sent.
    imageSize_ = firmwareFile.size();
    // An empty image has no block to send: the upload would end "finished"
    // with nothing sent, and the user would take the instrument as updated.
    if (imageSize_ == 0)
        return TransferRefusal::FileEmpty;
    if (imageSize_ > kMaxImageSize)
        return TransferRefusal::FileTooLarge;
    // PipeWire tells no client that another overran its cycle: at a short
    // cycle the instrument can lose a piece and the upload still end
    // "finished". Refused rather than run unchecked.
    if (midi.midiOut.unvouchedQuantum() != 0)
        return TransferRefusal::CycleTooShort;
    blockCount_ = blockCountForSize(imageSize_);
    admitted_ = true;
    return TransferRefusal::None;
}

bool FirmwareTransfer::run()
{
    if (!admitted_)
        return false;
    admitted_ = false;
    observer_.log(tr("Prepare for update"));
    bool finished = false;
    try {
        finished = sendBlocks();
    } catch (const RtMidiError &error) {
        // The output could not play a block (the instrument went away, the
        // MIDI service stopped): the instrument does not have the image.
        observer_.log(midiErrorText(error));
    }
    observer_.log(finished ? tr("Update finished") : tr("Update failed"));
    observer_.progress(0);
    closeFileAndPorts();
    return finished;
}

bool FirmwareTransfer::sendBlocks()
{
    unsigned int blockNumber = 1;
    // Driven by the bytes left in the file; the count decides the length of
    // the last block and that no pause follows it. Each block is read and its
    // value shown on the bar before it is sent; from block 2 on, that happens
    // inside the pause before the block, whose end is fixed first: painting
    // the bar or the log takes milliseconds on a real display, and a pause
    // that grew by them would send the next block a MIDI cycle late.
    NextBlock next = readBlock(blockNumber);
    while (next == NextBlock::Ready) {
        if (cancelRequested_) {
            observer_.log(tr("The update was interrupted."));
            return false;
        }
        const bool first = blockNumber == 1;
        StepClock::time_point pauseEnds;
        if (first) {
            if (!sendFirstBlockAndAwaitAcknowledgement())
                return false;
            pauseEnds = StepClock::now() + std::chrono::milliseconds(kAfterAckMs);
        } else {
            send();
            pauseEnds = StepClock::now() + std::chrono::milliseconds(kBetweenBlocksMs);
        }
        // The pause after the acknowledgement comes even after a single
        // block; none follows the last block.
        const bool pauses = first || blockNumber != blockCount_;
        next = readBlock(blockNumber + 1);
        if (pauses)
            waitStepUntil(pauseEnds);
        if (first)
            observer_.log(tr("Updating"));
        observer_.blockDone(blockNumber, blockCount_);
        ++blockNumber;
    }
    if (next == NextBlock::Failed)
        return false;
    // A file cut short ends the loop early; one rewritten in place keeps its
    // size and reads without error, yet the instrument got blocks of two
    // images. Only a file that still holds exactly what was sent makes a
    // finished update.
    if (blockNumber - 1 != blockCount_ || !fileStillHoldsWhatWasSent())
        return reportFileChanged();
    return true;
}

FirmwareTransfer::NextBlock FirmwareTransfer::readBlock(unsigned int blockNumber)
{
    if (firmwareFile.bytesAvailable() <= 0)
        return NextBlock::End;
    if (blockNumber > blockCount_) {
        reportFileChanged();
        return NextBlock::Failed;
    }
    const qint64 remainder = imageSize_ % static_cast<qint64>(kBlockDataSize);
    const qint64 wanted = (blockNumber == blockCount_ && remainder != 0)
                              ? remainder
                              : static_cast<qint64>(kBlockDataSize);
    unsigned char data[kBlockDataSize];
    const qint64 got = firmwareFile.read(reinterpret_cast<char *>(data), wanted);
    if (got < 0) {
        observer_.log(tr("Could not read the firmware file: ") + firmwareFile.errorString());
        return NextBlock::Failed;
    }
    // Fewer bytes than measured at the start: the file was cut short.
    if (got != wanted) {
        reportFileChanged();
        return NextBlock::Failed;
    }
    sent_.addData(reinterpret_cast<const char *>(data), static_cast<int>(got));
    buildDataBlockMessage(message_, deviceId(), blockNumber, blockCount_, data,
                          static_cast<std::size_t>(got));
    observer_.progress(progressPercent(blockNumber, blockCount_));
    return NextBlock::Ready;
}

bool FirmwareTransfer::reportFileChanged()
{
    observer_.log(tr("The firmware file changed during the update."));
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
