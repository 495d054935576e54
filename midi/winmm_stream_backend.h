#pragma once

#include "stream_backend.h"

#include <windows.h>

#include <mmsystem.h>

// Streaming output on the Windows Multimedia MIDI stream service: a stream
// opened on the output device with the port's time base (500 ticks per
// quarter, 1,000,000 us per quarter), one buffer in the platform's hands at a
// time, and a kernel event that the stream callback signals when the
// platform hands a played buffer back. The stream's clock is restarted before
// each unit, so that a pause between units never makes pieces due in the past.
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
    void haltStream() override;
    void closeStream() override;

private:
    // The event buffer and its header. They live on the heap, apart from the
    // backend: a buffer the platform never hands back is left to it when the
    // port closes instead of being freed under it.
    struct Buffer
    {
        alignas(4) unsigned char event[stream_framing::kPieceBufferBytes] = {};
        MIDIHDR header = {};
    };

    static void CALLBACK onStream(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    void playBuffer(const stream_framing::Piece &piece);
    // True once the platform has marked the header done; the completion
    // event only says when to look again.
    bool waitDone(DWORD boundMs) const;
    // Asks the platform for the header back for up to limitMs and returns its
    // last answer; only MMSYSERR_NOERROR counts as released.
    MMRESULT release(DWORD limitMs);

    HMIDISTRM stream_ = nullptr;
    Buffer *buffer_ = nullptr;
    // The header is prepared and the platform has not yet let go of it.
    bool held_ = false;
};

// The output devices as the stream service numbers them (RtMidi's Windows
// output enumerates the same way), for use without an RtMidiOut.
class WinMMOutputDevices final : public StreamPortList
{
public:
    unsigned count() override;
    std::string name(unsigned index) override;
};
