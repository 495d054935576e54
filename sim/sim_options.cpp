#include "sim_options.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Whole-string integer in [lo, hi]; decimal, or hex with 0x.
bool parseInt(const std::string &text, long lo, long hi, long &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < lo || v > hi)
        return false;
    value = v;
    return true;
}

bool parseVersion(const std::string &text, unsigned char out[3])
{
    std::string parts[3];
    int part = 0;
    for (char c : text) {
        if (c == '.') {
            if (++part > 2)
                return false;
        } else {
            parts[part] += c;
        }
    }
    if (part != 2)
        return false;
    for (int i = 0; i < 3; ++i) {
        long v = 0;
        // Every byte of a SysEx message must stay below 0x80.
        if (parts[i].empty() || parts[i].find_first_not_of("0123456789") != std::string::npos ||
            !parseInt(parts[i], 0, 127, v))
            return false;
        out[i] = static_cast<unsigned char>(v);
    }
    return true;
}

} // namespace

bool parseSimOptions(const std::vector<std::string> &args, SimOptions &options, std::string &error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        auto needValue = [&]() {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto noValue = [&]() {
            if (hasValue)
                error = "option " + name + " takes no value";
            return !hasValue;
        };
        long v = 0;
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--model") {
            if (!needValue())
                return false;
            if (value != "Varnox" && value != "Solune") {
                error = "--model must be Varnox or Solune, not '" + value + "'";
                return false;
            }
            options.model = value;
        } else if (name == "--number") {
            if (!needValue())
                return false;
            if (!parseInt(value, 1, 9999, v)) {
                error = "--number must be 1 to 9999, not '" + value + "'";
                return false;
            }
            options.number = int(v);
        } else if (name == "--version") {
            if (!needValue())
                return false;
            if (!parseVersion(value, options.version)) {
                error = "--version must be A.B.C with numbers 0 to 127, not '" + value + "'";
                return false;
            }
        } else if (name == "--summary" || name == "--image") {
            if (!needValue())
                return false;
            if (value.empty()) {
                error = name + " needs a file name";
                return false;
            }
            (name == "--summary" ? options.summaryPath : options.imagePath) = value;
        } else if (name == "--reply-id") {
            if (!needValue())
                return false;
            if (!parseInt(value, 0, 127, v)) {
                error = "--reply-id must be 0 to 127, not '" + value + "'";
                return false;
            }
            options.replyId = int(v);
        } else if (name == "--delay-ms") {
            if (!needValue())
                return false;
            if (!parseInt(value, 0, 60000, v)) {
                error = "--delay-ms must be 0 to 60000, not '" + value + "'";
                return false;
            }
            options.delayMs = int(v);
        } else if (name == "--exit-after-block") {
            if (!needValue())
                return false;
            if (!parseInt(value, 1, 16383, v)) {
                error = "--exit-after-block must be 1 to 16383, not '" + value + "'";
                return false;
            }
            options.exitAfterBlock = unsigned(v);
        } else if (name == "--late-cycle") {
            if (!needValue())
                return false;
            if (!parseInt(value, 1, 1000000, v)) {
                error = "--late-cycle must be 1 to 1000000, not '" + value + "'";
                return false;
            }
            options.lateCycle = unsigned(v);
        } else if (name == "--tell-at") {
            if (!needValue())
                return false;
            if (!parseInt(value, 1, 1000000, v)) {
                error = "--tell-at must be 1 to 1000000, not '" + value + "'";
                return false;
            }
            options.tellAt = unsigned(v);
        } else if (name == "--late-frames") {
            if (!needValue())
                return false;
            if (!parseInt(value, 0, 480000, v)) {
                error = "--late-frames must be 0 to 480000, not '" + value + "'";
                return false;
            }
            options.lateFrames = unsigned(v);
        } else if (name == "--no-version") {
            if (!noValue())
                return false;
            options.noVersion = true;
        } else if (name == "--no-ack") {
            if (!noValue())
                return false;
            options.noAck = true;
        } else if (name == "--alsa") {
            if (!noValue())
                return false;
            options.alsa = true;
        } else if (name == "--wine-framing") {
            if (!noValue())
                return false;
            options.wineFraming = true;
        } else if (name == "--malformed-first") {
            if (!noValue())
                return false;
            options.malformedFirst = true;
        } else {
            error = "unknown option '" + args[i] + "'";
            return false;
        }
    }
    return true;
}

const char *simUsage()
{
    return "usage: tarnwick-sim [--model Varnox|Solune] [--number N] [--version A.B.C]\n"
           "                    [--summary FILE.json] [--image FILE] [--no-version] [--no-ack]\n"
           "                    [--reply-id ID] [--delay-ms N] [--malformed-first]\n"
           "                    [--exit-after-block K] [--late-cycle N [--late-frames F]]\n"
           "                    [--tell-at N] [--alsa] [--wine-framing]\n"
           "A simulated instrument on JACK: client \"<model> <number>\" with MIDI ports in and\n"
           "out; with --alsa on the ALSA sequencer instead: client \"<model> <number>\" with\n"
           "the port \"<model> <number> MIDI 1\", as a USB instrument shows there, and piece\n"
           "times in microseconds (sample_rate 1000000 in the summary). Answers F0 id 15 F7 with "
           "F0 id 15 A B C F7 and acknowledges the first data\n"
           "block with F0 id 05 F7. Prints \"READY <client name>\" once active. The summary\n"
           "(JSON) is written on exit and on SIGUSR1; the image (N x 256 bytes) on exit.\n"
           "  --reply-id ID       put ID instead of the model's id into the replies\n"
           "  --delay-ms N        send each reply N ms after the message it answers\n"
           "  --malformed-first   before the first version reply and the first\n"
           "                      acknowledgement, send a wrong-length one\n"
           "  --exit-after-block K  close the client after the K-th data block message\n"
           "  --late-cycle N      (JACK) return 20 ms late from the cycle that brings the\n"
           "                      N-th incoming event, as a client the system did not\n"
           "                      schedule in time would\n"
           "  --late-frames F     with --late-cycle: overrun instead in the cycle that holds\n"
           "                      the frame F frames after the N-th event\n"
           "  --tell-at N         print \"SEEN N\" once the N-th piece has come (the version\n"
           "                      request is piece 1; block B's piece K is 1 + 11 (B - 1) + K):\n"
           "                      a test strikes at that point of the protocol, not by the clock\n"
           "  --wine-framing      each piece arrives as Wine's winmm sends it, as a SysEx\n"
           "                      message of its own (F0 in front of a piece that goes on\n"
           "                      a message, F7 after one that does not end with one):\n"
           "                      undone before the messages are rebuilt; the controller\n"
           "                      messages Wine sends when it stops a stream are ignored\n";
}
