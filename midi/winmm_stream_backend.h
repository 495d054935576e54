#pragma once

#include "stream_backend.h"

#include <windows.h>

#include <mmsystem.h>

// Streaming output on the Windows Multimedia MIDI stream service: a stream
// opened on the output device with the port's time base (500 ticks per
// quarter, 1,000,000 us per quarter), one buffer in the platform's hands at a
// time, and a kernel event that the stream callback signals when the
// platform hands a played buffer back.
class WinMMStreamBackend final : public StreamBackend
{
public:
    WinMMStreamBackend();
    ~WinMMStreamBackend() override;

protected:
    void openStream(unsigned portNumber, const std::string &portName,
                    StreamPortList &ports) override;
    void playUnit(const unsigned char *unit, const stream_framing::Piece *pieces,
                  size_t count) override;
    void closeStream() override;

private:
    static void CALLBACK onStream(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    void playBuffer(const stream_framing::Piece &piece);
    // Waits until the platform lets go of the header; false after 2 s.
    bool unprepare();
    void takeBufferBack();

    HMIDISTRM stream_ = nullptr;
    // The buffer and header live as long as the backend, not the send: after
    // a failed wait the platform may still hold them for a moment, and a
    // send's stack frame must not be what it writes into.
    alignas(4) unsigned char event_[stream_framing::kPieceBufferBytes] = {};
    MIDIHDR header_ = {};
};

// The output devices as the stream service numbers them (RtMidi's Windows
// output enumerates the same way), for use without an RtMidiOut.
class WinMMOutputDevices final : public StreamPortList
{
public:
    unsigned count() override;
    std::string name(unsigned index) override;
};
