#pragma once

#include "messages.h"

#include <QCryptographicHash>
#include <QtGlobal>

class MainWindow;

// The progress bar's value before block blockNumber of blockCount is sent: the
// quotient in single precision times 100, truncated (block 53 of 100 shows 52).
int progressPercent(unsigned blockNumber, unsigned blockCount);

namespace Ui {
class MainWindow;
}

// One run of the upload: sends the open firmware file to the instrument block by
// block, with the acknowledgement handshake after the first block and fixed
// pacing after it, and shows the progress. The caller has checked that both
// ports and the file are open and that the image is not too large.
class FirmwareTransfer
{
public:
    FirmwareTransfer(MainWindow &window, Ui::MainWindow &ui);

    // True when every block has been sent and played; false when the
    // instrument did not acknowledge, the file could not be read as it was
    // measured, or the MIDI output failed (the reason is logged).
    bool run();

private:
    bool sendBlocks();
    bool sendFirstBlockAndAwaitAcknowledgement();
    bool fileStillHoldsWhatWasSent();
    // Logs that the file changed under the transfer; returns false (failed).
    bool reportFileChanged();
    void send();
    void showProgress(unsigned int blockNumber);

    MainWindow &window_;
    Ui::MainWindow &ui_;
    unsigned int blockCount_ = 0;
    // Reused for every block and never cleared between blocks; zeroed per run
    // so that a short first block leaves only 7-bit bytes behind its data.
    DataBlockBuffer message_{};
    // Every image byte read for sending, to compare with the file at the end.
    QCryptographicHash sent_{QCryptographicHash::Sha256};
};
