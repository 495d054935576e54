#include "stderr_capture.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

StderrCapture::StderrCapture()
{
    if (!file_.open())
        return;
    std::cerr.flush();
    fflush(stderr);
    savedFd_ = dup(STDERR_FILENO);
    dup2(file_.handle(), STDERR_FILENO);
}

StderrCapture::~StderrCapture()
{
    text();
}

QByteArray StderrCapture::text()
{
    if (savedFd_ >= 0) {
        std::cerr.flush();
        fflush(stderr);
        dup2(savedFd_, STDERR_FILENO);
        close(savedFd_);
        savedFd_ = -1;
        file_.seek(0);
        text_ = file_.readAll();
    }
    return text_;
}
