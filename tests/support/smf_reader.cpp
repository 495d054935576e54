#include "smf_reader.h"

#include <fstream>
#include <iterator>

namespace {

std::uint32_t bigEndian(const std::vector<unsigned char> &d, size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | d[at + size_t(i)];
    return v;
}

// A variable-length quantity at `at`, which moves past it; false when cut short.
bool varLen(const std::vector<unsigned char> &d, size_t &at, size_t end, std::uint64_t &value)
{
    value = 0;
    for (int i = 0; i < 4 && at < end; ++i) {
        const unsigned b = d[at++];
        value = (value << 7) | (b & 0x7F);
        if (!(b & 0x80))
            return true;
    }
    return false;
}

} // namespace

bool readSmfSysex(const std::string &path, SmfRecording &recording, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> d((std::istreambuf_iterator<char>(file)),
                                       std::istreambuf_iterator<char>());
    if (d.size() < 14 || bigEndian(d, 0, 4) != 0x4D546864 /* MThd */ || (d[12] & 0x80)) {
        error = "not a standard MIDI file with ticks per quarter";
        return false;
    }
    recording.ticksPerQuarter = bigEndian(d, 12, 2);
    for (size_t chunk = 8 + bigEndian(d, 4, 4); chunk + 8 <= d.size();) {
        const size_t end = chunk + 8 + bigEndian(d, chunk + 4, 4);
        if (end > d.size()) {
            error = "truncated chunk";
            return false;
        }
        const bool track = bigEndian(d, chunk, 4) == 0x4D54726B; // MTrk
        std::uint64_t tick = 0;
        unsigned running = 0; // a channel message's status, which may be left out
        for (size_t at = chunk + 8; track && at < end;) {
            std::uint64_t delta = 0, length = 0;
            if (!varLen(d, at, end, delta) || at >= end) {
                error = "truncated event";
                return false;
            }
            tick += delta;
            unsigned status = d[at++];
            if (status < 0xF0) { // a channel message (Wine's controllers): skipped
                if (status & 0x80)
                    running = status;
                else if (running)
                    status = running, --at;
                else {
                    error = "a data byte without a status";
                    return false;
                }
                at += (status & 0xE0) == 0xC0 ? 1 : 2; // program and pressure: one byte
                continue;
            }
            if (status == 0xFF && at < end) // meta event: type, length, data
                ++at;
            if (status != 0xF0 && status != 0xF7 && status != 0xFF) {
                error = "an unknown event: status " + std::to_string(status);
                return false;
            }
            if (!varLen(d, at, end, length) || at + length > end) {
                error = "truncated event data";
                return false;
            }
            if (status != 0xFF) {
                SmfSysex event{tick, {}};
                if (status == 0xF0) // stored without its F0
                    event.bytes.push_back(0xF0);
                event.bytes.insert(event.bytes.end(), d.begin() + long(at),
                                   d.begin() + long(at + length));
                recording.sysex.push_back(std::move(event));
            }
            at += length;
        }
        chunk = end;
    }
    return true;
}
