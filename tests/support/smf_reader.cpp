#include "smf_reader.h"

#include <algorithm>
#include <fstream>
#include <iterator>

bool readSmfSysex(const std::string &path, SmfRecording &recording, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> d{std::istreambuf_iterator<char>(file), {}};
    size_t at = 0;
    const auto byte = [&]() -> unsigned { return at < d.size() ? d[at++] : (++at, 0); };
    const auto number = [&](int bytes) { // big-endian
        std::uint32_t v = 0;
        while (bytes-- > 0)
            v = (v << 8) | byte();
        return v;
    };
    const auto varLen = [&] {
        std::uint64_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned b = byte();
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80))
                break;
        }
        return v;
    };
    const std::uint32_t magic = number(4), headerLength = number(4);
    at += 4; // format and track count
    recording.ticksPerQuarter = number(2);
    if (magic != 0x4D546864 /* MThd */ || headerLength != 6 ||
        (recording.ticksPerQuarter & 0x8000) || at > d.size()) {
        error = "not a standard MIDI file with ticks per quarter";
        return false;
    }
    while (at + 8 <= d.size()) {
        const bool track = number(4) == 0x4D54726B; // MTrk
        const size_t end = at + number(4);
        std::uint64_t tick = 0;
        unsigned running = 0; // a channel message's status, which may be left out
        while (track && at < end) {
            tick += varLen();
            unsigned status = byte();
            if (status < 0x80 && running)
                status = running, --at;
            if (status >= 0x80 && status < 0xF0) { // a channel message (Wine's controllers)
                running = status;
                at += (status & 0xE0) == 0xC0 ? 1 : 2; // program and pressure: one byte
                continue;
            }
            if (status == 0xFF) // a meta event: its type, then as a SysEx event
                ++at;
            else if (status != 0xF0 && status != 0xF7) {
                error = "an unknown event: status " + std::to_string(status);
                return false;
            }
            const size_t length = size_t(varLen());
            if (at + length > std::min(end, d.size())) {
                error = "truncated event";
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
        at = end;
    }
    if (at > d.size()) {
        error = "truncated chunk";
        return false;
    }
    return true;
}
