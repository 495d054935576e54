#pragma once

#include <cstddef>
#include <cstdint>

// How a unit handed to the streaming port is cut into timed events. Every
// backend plays exactly what frameUnit() yields, so the framing the
// instrument's bootloader depends on lives in one place.
namespace stream_framing {

// Time base of the stream: 500 ticks per quarter note at 1,000,000 us per
// quarter note, so one tick is 2 ms.
constexpr uint32_t kTicksPerQuarter = 500;
constexpr uint32_t kTempoMicros = 1000000;
constexpr uint32_t kTickMicros = kTempoMicros / kTicksPerQuarter;

// The two unit sizes callers hand over: the version request and the data
// block message (521 bytes of SysEx plus three zero bytes).
constexpr size_t kShortUnit = 4;
constexpr size_t kBlockUnit = 524;
// The send's own copy of a unit is rounded up to a multiple of 4.
constexpr size_t kUnitCopyBytes = 528;

constexpr size_t kPieceBytes = 48;
constexpr size_t kMaxPieces = 11;
constexpr uint32_t kPieceDeltaTicks = 5;

// One timed event: `length` bytes of the unit starting at `offset`, played
// `deltaTicks` after the previous event of the stream.
struct Piece
{
    uint32_t deltaTicks;
    uint32_t offset;
    uint32_t length;
};

// Fills `pieces` with the events of a unit of `size` bytes and returns how
// many there are; 0 for a size that is not a unit (nothing may be sent then).
size_t frameUnit(size_t size, Piece (&pieces)[kMaxPieces]);

// Longest time a unit can take to play, from hand-over to its last event.
uint32_t unitPlayMicros(size_t size);

// Layout of one event in a stream buffer as the Windows stream service reads
// it: three 32-bit words (delta, stream id, event word) then the data bytes.
constexpr uint32_t kLongEventFlag = 0x80000000u;
constexpr uint32_t kEventHeadBytes = 12;
constexpr uint32_t kShortBufferBytes = 16;
constexpr uint32_t kPieceBufferBytes = 64;

inline uint32_t eventWord(const Piece &p)
{
    return kLongEventFlag | p.length;
}
inline uint32_t bufferLength(const Piece &p)
{
    return p.length == kShortUnit ? kShortBufferBytes : kPieceBufferBytes;
}
inline uint32_t bytesRecorded(const Piece &p)
{
    return kEventHeadBytes + p.length;
}

// Writes the event for `p` (head and data taken from `unit`) into `buffer`,
// which holds at least kPieceBufferBytes. The unused tail is zeroed.
void writeEventBuffer(const Piece &p, const unsigned char *unit,
                      unsigned char (&buffer)[kPieceBufferBytes]);

} // namespace stream_framing
