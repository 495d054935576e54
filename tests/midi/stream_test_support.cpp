#include "stream_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

std::vector<unsigned char> makeBlockUnit(unsigned seed)
{
    std::vector<unsigned char> unit(524, 0);
    unit[0] = 0xF0;
    unit[1] = 0x03;
    for (size_t i = 2; i < 520; ++i)
        unit[i] = static_cast<unsigned char>((i * 7 + seed * 31 + (i >> 3) * seed) & 0x7F);
    unit[520] = 0xF7;
    return unit;
}

std::vector<unsigned char> makeShortUnit(unsigned char id)
{
    return {0xF0, id, 0x15, 0xF7};
}

int outputIndexOf(StreamMidiOut &out, const std::string &name)
{
    const unsigned n = out.getPortCount();
    for (unsigned i = 0; i < n; ++i) {
        if (out.getPortName(i) == name)
            return static_cast<int>(i);
    }
    return -1;
}

StderrCapture::StderrCapture()
{
    std::cerr.flush();
    fflush(stderr);
    char path[] = "/tmp/tarnwick-stderr-XXXXXX";
    file_ = mkstemp(path);
    unlink(path);
    saved_ = dup(2);
    dup2(file_, 2);
}

StderrCapture::~StderrCapture()
{
    text();
}

std::string StderrCapture::text()
{
    if (done_)
        return {};
    done_ = true;
    std::cerr.flush();
    fflush(stderr);
    dup2(saved_, 2);
    ::close(saved_);
    std::string out;
    lseek(file_, 0, SEEK_SET);
    char buffer[512];
    ssize_t n;
    while ((n = read(file_, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    ::close(file_);
    return out;
}
