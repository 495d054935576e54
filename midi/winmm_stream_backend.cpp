#include "winmm_stream_backend.h"

#include <atomic>
#include <cstdint>
#include <string>

using namespace stream_framing;

namespace {

// The stream callback gets no per-port data (instance data 0), so the event
// it signals is process-wide: at most one streaming port is open at a time.
std::atomic<HANDLE> completionEvent{nullptr};

constexpr DWORD kCompletionSlackMs = 2000;
constexpr DWORD kStillPlayingLimitMs = 2000;

// Microseconds on the performance counter (GetTickCount moves in steps of
// up to 16 ms, more than a piece's whole delta).
int64_t nowMicros()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart / frequency * 1000000 + count.QuadPart % frequency * 1000000 / frequency;
}

// Results by which the platform says the device itself is no longer there
// (unplugged, its driver unloaded, the handle invalidated with it).
bool destinationGone(MMRESULT result)
{
    return result == MMSYSERR_INVALHANDLE || result == MMSYSERR_NODRIVER ||
           result == MMSYSERR_BADDEVICEID || result == MIDIERR_NODEVICE;
}

} // namespace

WinMMStreamBackend::WinMMStreamBackend() : StreamBackend("MidiOutWinMM") {}

WinMMStreamBackend::~WinMMStreamBackend()
{
    close();
    delete buffer_;
}

void WinMMStreamBackend::openStream(unsigned portNumber, const std::string &, StreamPortList &)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event)
        fail(StreamProblem::NoCompletionEvent);
    completionEvent.store(event);

    if (stream_) {
        midiStreamClose(stream_);
        stream_ = nullptr;
    }
    UINT device = portNumber;
    const MMRESULT result = midiStreamOpen(
        &stream_, &device, 1, reinterpret_cast<DWORD_PTR>(&onStream), 0, CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
        stream_ = nullptr;
        completionEvent.store(nullptr);
        CloseHandle(event);
        failRefused("midiStreamOpen returned MMRESULT " + std::to_string(result));
    }
    // A send allocates nothing, so the buffer comes with the open; after a
    // close that had to leave the old one to the platform, a new one.
    if (!buffer_)
        buffer_ = new Buffer;
    held_ = false;

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

// Reset, stop and a pause for the device to settle, as on every backend;
// the header is unprepared only after the stop has handed it back.
void WinMMStreamBackend::haltStream()
{
    midiOutReset(reinterpret_cast<HMIDIOUT>(stream_));
    midiStreamStop(stream_);
}

void WinMMStreamBackend::closeStream()
{
    const bool released = !held_ || release(kStillPlayingLimitMs) == MMSYSERR_NOERROR;
    midiStreamClose(stream_);
    stream_ = nullptr;
    if (!released) {
        // The platform still owns the header and may yet write into it: the
        // buffer (under 200 bytes, at most one per open) is left to it.
        buffer_ = nullptr;
        held_ = false;
    }
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
    // The stream's clock runs on while nothing is queued, so after a pause the
    // pieces of the next unit would all be due at once. Stopping sets the
    // position back to zero and hands back anything still queued.
    midiStreamStop(stream_);
    if (held_) {
        const MMRESULT result = release(0);
        if (result != MMSYSERR_NOERROR)
            fail(destinationGone(result) ? StreamProblem::DestinationGone
                                         : StreamProblem::PreviousUnitHeld);
    }
    midiStreamRestart(stream_);
    const int64_t restarted = nowMicros();
    int64_t dueMicros = 0; // on the stream's clock, of the piece handed over last
    for (size_t i = 0; i < count; ++i) {
        // The clock runs on while a piece plays late, so the next one would
        // be due early, less than its delta after the late one: it waits the
        // ticks by which the previous one was late, to the nearest, on top of
        // its delta. Whole ticks alone let it come up to a tick (2 ms) early;
        // rounded, half a tick at most.
        Piece piece = pieces[i];
        const int64_t late = nowMicros() - restarted - dueMicros;
        if (late >= kTickMicros / 2)
            piece.deltaTicks += static_cast<uint32_t>((late + kTickMicros / 2) / kTickMicros);
        dueMicros += int64_t{piece.deltaTicks} * kTickMicros;
        writeEventBuffer(piece, unit, buffer_->event);
        playBuffer(piece);
    }
}

void WinMMStreamBackend::playBuffer(const Piece &piece)
{
    HMIDIOUT out = reinterpret_cast<HMIDIOUT>(stream_);
    // Not held (checked before the unit, released after each piece): the
    // header is ours to fill.
    MIDIHDR &header = buffer_->header;
    header = MIDIHDR{};
    header.lpData = reinterpret_cast<LPSTR>(buffer_->event);
    header.dwBufferLength = bufferLength(piece);
    header.dwBytesRecorded = bytesRecorded(piece);
    header.dwFlags = 0;
    MMRESULT result = midiOutPrepareHeader(out, &header, sizeof header);
    if (result != MMSYSERR_NOERROR)
        fail(destinationGone(result) ? StreamProblem::DestinationGone
                                     : StreamProblem::PrepareRefused);
    held_ = true;

    // A wake-up left over from an earlier buffer must not end this wait.
    ResetEvent(completionEvent.load());
    result = midiStreamOut(stream_, &header, sizeof header);
    if (result != MMSYSERR_NOERROR) {
        // A buffer the stream did not take is never reported done.
        release(0);
        fail(destinationGone(result) ? StreamProblem::DestinationGone
                                     : StreamProblem::EventRefused);
    }
    const DWORD boundMs = piece.deltaTicks * kTickMicros / 1000u + kCompletionSlackMs;
    if (!waitDone(boundMs)) {
        // Stopping hands the buffer back without the reset's note-offs on
        // every channel; if the platform still keeps it, the next send says so.
        midiStreamStop(stream_);
        release(kStillPlayingLimitMs);
        fail(StreamProblem::NotPlayedInTime, boundMs);
    }
    result = release(kStillPlayingLimitMs);
    if (result != MMSYSERR_NOERROR)
        fail(destinationGone(result) ? StreamProblem::DestinationGone
                                     : StreamProblem::StillPlaying);
}

bool WinMMStreamBackend::waitDone(DWORD boundMs) const
{
    // The platform sets the flag on its own thread before the callback runs.
    const volatile DWORD &flags = buffer_->header.dwFlags;
    const DWORD start = GetTickCount();
    while (!(flags & MHDR_DONE)) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= boundMs)
            return false;
        WaitForSingleObject(completionEvent.load(), boundMs - elapsed);
    }
    return true;
}

MMRESULT WinMMStreamBackend::release(DWORD limitMs)
{
    HMIDIOUT out = reinterpret_cast<HMIDIOUT>(stream_);
    MIDIHDR &header = buffer_->header;
    const DWORD start = GetTickCount();
    MMRESULT result;
    while ((result = midiOutUnprepareHeader(out, &header, sizeof header)) == MIDIERR_STILLPLAYING &&
           GetTickCount() - start < limitMs)
        Sleep(1);
    if (result == MMSYSERR_NOERROR)
        held_ = false;
    return result;
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
