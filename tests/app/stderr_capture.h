#pragma once

#include <QByteArray>
#include <QTemporaryFile>

// Collects what the process writes to its standard error stream (RtMidi's
// warnings go there) between construction and text().
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Ends the capture (once) and returns everything written meanwhile.
    QByteArray text();

private:
    QTemporaryFile file_;
    int savedFd_ = -1;
    QByteArray text_;
};
