#include "smf_reader.h"

#include <fstream>
#include <iterator>

namespace {

struct Cursor
{
    const std::vector<unsigned char> &data;
    size_t at;
    size_t end;

    bool has(size_t n) const { return at + n <= end; }
    unsigned byte() { return data[at++]; }
    bool varLen(std::uint64_t &value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (!has(1))
                return false;
            const unsigned b = byte();
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return false;
    }
};

std::uint32_t bigEndian(const std::vector<unsigned char> &d, size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | d[at + size_t(i)];
    return v;
}

bool readTrack(Cursor c, SmfRecording &recording, std::string &error)
{
    std::uint64_t tick = 0;
    unsigned status = 0;
    while (c.has(1)) {
        std::uint64_t delta = 0;
        if (!c.varLen(delta) || !c.has(1)) {
            error = "truncated event";
            return false;
        }
        tick += delta;
        unsigned first = c.byte();
        if (first == 0xF0 || first == 0xF7) {
            std::uint64_t length = 0;
            if (!c.varLen(length) || !c.has(length)) {
                error = "truncated SysEx event";
                return false;
            }
            SmfSysex event;
            event.tick = tick;
            if (first == 0xF0)
                event.bytes.push_back(0xF0);
            event.bytes.insert(event.bytes.end(), c.data.begin() + long(c.at),
                               c.data.begin() + long(c.at + length));
            c.at += length;
            recording.sysex.push_back(std::move(event));
            status = 0;
        } else if (first == 0xFF) {
            std::uint64_t length = 0;
            if (!c.has(1) || (c.byte(), !c.varLen(length)) || !c.has(length)) {
                error = "truncated meta event";
                return false;
            }
            c.at += length;
        } else {
            // A channel message, with running status when the byte is data.
            if (first & 0x80)
                status = first;
            else if (status == 0) {
                error = "data byte without status";
                return false;
            } else
                --c.at;
            const unsigned kind = status & 0xF0;
            const size_t dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (!c.has(dataBytes)) {
                error = "truncated channel message";
                return false;
            }
            c.at += dataBytes;
        }
    }
    return true;
}

} // namespace

bool readSmfSysex(const std::string &path, SmfRecording &recording, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> d((std::istreambuf_iterator<char>(file)),
                                       std::istreambuf_iterator<char>());
    if (d.size() < 14 || bigEndian(d, 0, 4) != 0x4D546864 /* MThd */) {
        error = "not a standard MIDI file (" + std::to_string(d.size()) + " bytes)";
        return false;
    }
    const std::uint32_t headerLength = bigEndian(d, 4, 4);
    const std::uint32_t division = bigEndian(d, 12, 2);
    if (division & 0x8000) {
        error = "SMPTE time division";
        return false;
    }
    recording.ticksPerQuarter = division;
    size_t at = 8 + headerLength;
    while (at + 8 <= d.size()) {
        const std::uint32_t id = bigEndian(d, at, 4);
        const std::uint32_t length = bigEndian(d, at + 4, 4);
        if (at + 8 + length > d.size()) {
            error = "truncated chunk";
            return false;
        }
        if (id == 0x4D54726B /* MTrk */ &&
            !readTrack({d, at + 8, at + 8 + length}, recording, error))
            return false;
        at += 8 + length;
    }
    return true;
}
