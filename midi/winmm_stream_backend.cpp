#include "winmm_stream_backend.h"

#include <atomic>

using namespace stream_framing;

namespace {

// The stream callback gets no per-port data (instance data 0), so the event
// it signals is process-wide: at most one streaming port is open at a time.
std::atomic<HANDLE> completionEvent{nullptr};

constexpr DWORD kCompletionSlackMs = 2000;
constexpr DWORD kStillPlayingLimitMs = 2000;

} // namespace

WinMMStreamBackend::WinMMStreamBackend() : StreamBackend("MidiOutWinMM") {}

WinMMStreamBackend::~WinMMStreamBackend()
{
    close();
}

void WinMMStreamBackend::openStream(unsigned portNumber, const std::string &, StreamPortList &)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event)
        report(StreamProblem::NoCompletionEvent);
    completionEvent.store(event);

    if (stream_) {
        midiStreamClose(stream_);
        stream_ = nullptr;
    }
    UINT device = portNumber;
    if (midiStreamOpen(&stream_, &device, 1, reinterpret_cast<DWORD_PTR>(&onStream), 0,
                       CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        stream_ = nullptr;
        completionEvent.store(nullptr);
        CloseHandle(event);
        report(StreamProblem::OpenRefused);
    }

    MIDIPROPTIMEDIV division;
    division.cbStruct = sizeof division;
    division.dwTimeDiv = kTicksPerQuarter;
    midiStreamProperty(stream_, reinterpret_cast<LPBYTE>(&division),
                       MIDIPROP_SET | MIDIPROP_TIMEDIV);
    MIDIPROPTEMPO tempo;
    tempo.cbStruct = sizeof tempo;
    tempo.dwTempo = kTempoMicros;
    midiStreamProperty(stream_, reinterpret_cast<LPBYTE>(&tempo), MIDIPROP_SET | MIDIPROP_TEMPO);
    midiStreamRestart(stream_);
}

void WinMMStreamBackend::closeStream()
{
    midiOutReset(reinterpret_cast<HMIDIOUT>(stream_));
    midiStreamStop(stream_);
    Sleep(100);
    midiStreamClose(stream_);
    stream_ = nullptr;
    if (HANDLE event = completionEvent.exchange(nullptr))
        CloseHandle(event);
}

void CALLBACK WinMMStreamBackend::onStream(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR)
{
    // No lock, no allocation: only wake the waiting send.
    if (message == MOM_DONE) {
        if (HANDLE event = completionEvent.load())
            SetEvent(event);
    }
}

void WinMMStreamBackend::playUnit(const unsigned char *unit, const Piece *pieces, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        writeEventBuffer(pieces[i], unit, event_);
        playBuffer(pieces[i]);
    }
}

void WinMMStreamBackend::playBuffer(const Piece &piece)
{
    HMIDIOUT out = reinterpret_cast<HMIDIOUT>(stream_);
    header_ = MIDIHDR{};
    header_.lpData = reinterpret_cast<LPSTR>(event_);
    header_.dwBufferLength = bufferLength(piece);
    header_.dwBytesRecorded = bytesRecorded(piece);
    header_.dwFlags = 0;
    if (midiOutPrepareHeader(out, &header_, sizeof header_) != MMSYSERR_NOERROR)
        report(StreamProblem::PrepareRefused);

    // A buffer the stream did not take is never reported done.
    if (midiStreamOut(stream_, &header_, sizeof header_) != MMSYSERR_NOERROR) {
        midiOutUnprepareHeader(out, &header_, sizeof header_);
        report(StreamProblem::EventRefused);
    }
    const DWORD boundMs = piece.deltaTicks * kTickMicros / 1000u + kCompletionSlackMs;
    if (WaitForSingleObject(completionEvent.load(), boundMs) != WAIT_OBJECT_0) {
        takeBufferBack();
        report(StreamProblem::NotPlayedInTime, boundMs);
    }
    if (!unprepare()) {
        takeBufferBack();
        report(StreamProblem::StillPlaying);
    }
}

bool WinMMStreamBackend::unprepare()
{
    HMIDIOUT out = reinterpret_cast<HMIDIOUT>(stream_);
    const DWORD start = GetTickCount();
    while (midiOutUnprepareHeader(out, &header_, sizeof header_) == MIDIERR_STILLPLAYING) {
        if (GetTickCount() - start > kStillPlayingLimitMs)
            return false;
        Sleep(1);
    }
    return true;
}

// After a failed wait the platform is told to hand the buffer back, so the
// next send starts clean; the reset's own completion signal is cleared.
void WinMMStreamBackend::takeBufferBack()
{
    midiOutReset(reinterpret_cast<HMIDIOUT>(stream_));
    unprepare();
    ResetEvent(completionEvent.load());
}

unsigned WinMMOutputDevices::count()
{
    return midiOutGetNumDevs();
}

std::string WinMMOutputDevices::name(unsigned index)
{
    MIDIOUTCAPSA caps;
    if (midiOutGetDevCapsA(index, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return {};
    return std::string(caps.szPname) + " " + std::to_string(index);
}
