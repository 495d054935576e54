#pragma once

#include "messages.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QString>
#include <QtGlobal>

// Where an upload shows what it does: the window's log pane and progress bar,
// or a terminal. Called on the thread that runs the upload, also from inside
// its wait steps.
class TransferObserver
{
public:
    virtual ~TransferObserver() = default;
    // One line of the log, unchanged ("Prepare for update", "Updating", ...).
    virtual void log(const QString &line) = 0;
    // The progress before each block is sent (0 to 100), and 0 once the upload
    // has ended.
    virtual void progress(int percent) = 0;
    // Block blockNumber of blockCount has been played (the first one also
    // acknowledged) and its pause has passed.
    virtual void blockDone(unsigned blockNumber, unsigned blockCount)
    {
        Q_UNUSED(blockNumber)
        Q_UNUSED(blockCount)
    }
};

// The progress value before block blockNumber of blockCount is sent: the
// quotient in single precision times 100, truncated (block 53 of 100 shows 52).
int progressPercent(unsigned blockNumber, unsigned blockCount);

// Why an upload does not start. Nothing has been sent or closed then.
enum class TransferRefusal
{
    None,
    PortsNotOpen, // "Open devices!"
    FileNotOpen,  // "Open file!"
    FileEmpty,    // "Firmware file is empty!"
    FileTooLarge, // "Firmware file too large!"
    // PipeWire runs at a cycle too short for the updater to see a piece that
    // the instrument lost (midi/pipewire_quantum.h).
    CycleTooShort,
};

// The text the user is shown for a refusal (empty for None).
QString refusalText(TransferRefusal refusal);

// The answer to a request to quit while an upload runs.
QString pleaseWaitText();

// One upload of the open firmware file to the instrument over the session's
// ports: block by block, with the acknowledgement handshake after the first
// block and fixed pacing after it. One object serves one upload.
class FirmwareTransfer
{
    Q_DECLARE_TR_FUNCTIONS(FirmwareTransfer)

public:
    explicit FirmwareTransfer(TransferObserver &observer);

    // Checks that both ports and the file are open and reads the image's size,
    // the one value that the block count, the last block's length and the
    // size limits are taken from for the whole upload.
    TransferRefusal check();

    // Runs the upload that check() admitted (otherwise does nothing and
    // returns false). Logs "Prepare for update", "Updating" after the
    // acknowledgement, then "Update finished" or "Update failed" after the
    // reason; then sets the progress back to 0 and closes the file and both
    // ports, whatever the outcome. True when every block has been played.
    bool run();

    // Asks the running upload to stop before its next block: the block being
    // played is played out whole, then the upload ends as failed.
    void requestCancel() { cancelRequested_ = true; }

private:
    bool sendBlocks();
    enum class NextBlock
    {
        Ready, // in the message buffer, its value on the bar
        End,   // the file has no more bytes
        Failed // logged why
    };
    // Reads block `blockNumber` of the file into the message buffer.
    NextBlock readBlock(unsigned int blockNumber);
    bool sendFirstBlockAndAwaitAcknowledgement();
    bool fileStillHoldsWhatWasSent();
    // Logs that the file changed under the transfer; returns false (failed).
    bool reportFileChanged();
    void send();

    TransferObserver &observer_;
    bool admitted_ = false;
    bool cancelRequested_ = false;
    qint64 imageSize_ = 0;
    unsigned int blockCount_ = 0;
    // Reused for every block and never cleared between blocks; zeroed per
    // upload so that a short first block leaves only 7-bit bytes behind its data.
    DataBlockBuffer message_{};
    // Every image byte read for sending, to compare with the file at the end.
    QCryptographicHash sent_{QCryptographicHash::Sha256};
};
