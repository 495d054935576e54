#pragma once

#include "firmware_transfer.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdio>

// The upload's log lines and progress on standard output. On a terminal the
// progress is one line redrawn after each block (a bar, blocks done, bytes,
// time left); otherwise, for a log file or a pipe, one line per 10 %.
class TerminalObserver : public TransferObserver
{
public:
    TerminalObserver(std::FILE *out, bool terminal);

    // Whether `out` is a terminal that can redraw a line. A Windows console
    // is switched to its VT mode for it; one that has none gets plain lines.
    static bool redrawsLines(std::FILE *out);
    ~TerminalObserver() override;

    // The image's size in bytes, for the byte counts.
    void setImageSize(qint64 bytes) { imageSize_ = bytes; }

    void log(const QString &line) override;
    // The bar counts blocks, not the window's percentage before each block.
    void progress(int) override {}
    void blockDone(unsigned blockNumber, unsigned blockCount) override;

private:
    QString status(unsigned blockNumber, unsigned blockCount) const;
    void endBarLine();

    std::FILE *out_;
    bool terminal_;
    qint64 imageSize_ = 0;
    bool barShown_ = false;
    unsigned tenthsShown_ = 0;
    QElapsedTimer sinceFirstBlock_;
};
