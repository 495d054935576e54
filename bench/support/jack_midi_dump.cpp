#include "jack_midi_dump.h"

#include <fstream>
#include <regex>
#include <sstream>

std::vector<DumpedEvent> readJackMidiDump(const std::string &path)
{
    std::ifstream in(path);
    const std::regex line(R"(^\s*(\d+):((?: [0-9a-f]{2})+)\s*$)");
    std::vector<DumpedEvent> events;
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line))
            continue;
        DumpedEvent d{std::stoll(m[1]), {}};
        std::istringstream hex(m[2]);
        for (unsigned b; hex >> std::hex >> b;)
            d.bytes.push_back(static_cast<unsigned char>(b));
        events.push_back(d);
    }
    return events;
}
