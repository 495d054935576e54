#include "library_messages.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <sstream>

#ifdef TARNWICK_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef TARNWICK_HAVE_JACK
#include <jack/jack.h>
#endif

namespace {

constexpr std::size_t kKeptLines = 300;

bool verboseFromEnvironment()
{
    const char *value = std::getenv("TARNWICK_VERBOSE");
    return value && *value && std::strcmp(value, "0") != 0;
}

// The hooks may be called from the libraries' own threads (JACK's), hence the
// lock; a message is rare and never on the timed path of a send.
struct Store
{
    std::mutex mutex;
    std::deque<std::string> lines;
    std::atomic<int> quietScopes{0};
    std::atomic<bool> verbose{verboseFromEnvironment()};
    // RtMidi writes its warnings to std::cerr; inside a scope they go here.
    std::stringbuf caughtCerr;
    std::streambuf *cerrBefore = nullptr;
};

Store &store()
{
    static Store s;
    return s;
}

void keep(const std::string &line)
{
    Store &s = store();
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.lines.push_back(line);
    if (s.lines.size() > kKeptLines)
        s.lines.pop_front();
}

// A library's line: kept inside a quiet scope, printed otherwise. (Only the
// Linux libraries have hooks to call it.)
[[maybe_unused]] void libraryLine(const std::string &line)
{
    if (store().quietScopes.load() > 0 && !store().verbose.load())
        keep(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

void keepCaughtCerr(Store &s)
{
    std::istringstream text(s.caughtCerr.str());
    s.caughtCerr.str(std::string());
    for (std::string line; std::getline(text, line);)
        if (!line.empty())
            keep(line);
}

#ifdef TARNWICK_HAVE_ALSA
// ALSA's own handler prints "ALSA lib FILE:LINE:(FUNCTION) MESSAGE[: ERROR]".
extern "C" void onAlsaMessage(const char *file, int line, const char *function, int err,
                              const char *format, ...)
{
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::string text = std::string("ALSA lib ") + file + ':' + std::to_string(line) + ":(" +
                       function + ") " + message;
    if (err)
        text += std::string(": ") + snd_strerror(err);
    libraryLine(text);
}
#endif

#ifdef TARNWICK_HAVE_JACK
extern "C" void onJackMessage(const char *message)
{
    libraryLine(message);
}
#endif

void installHooks()
{
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef TARNWICK_HAVE_ALSA
        snd_lib_error_set_handler(onAlsaMessage);
#endif
#ifdef TARNWICK_HAVE_JACK
        jack_set_error_function(onJackMessage);
        jack_set_info_function(onJackMessage);
#endif
    });
}

} // namespace

QuietMidiLibraries::QuietMidiLibraries() : quiet_(!store().verbose.load())
{
    installHooks();
    if (!quiet_)
        return;
    Store &s = store();
    if (s.quietScopes.fetch_add(1) == 0)
        s.cerrBefore = std::cerr.rdbuf(&s.caughtCerr);
}

QuietMidiLibraries::~QuietMidiLibraries()
{
    if (!quiet_)
        return;
    Store &s = store();
    if (s.quietScopes.fetch_sub(1) == 1) {
        std::cerr.rdbuf(s.cerrBefore);
        keepCaughtCerr(s);
    }
}

void noteMidiLibraryMessage(const std::string &line)
{
    keep(line);
    if (store().verbose.load())
        std::fprintf(stderr, "%s\n", line.c_str());
}

std::vector<std::string> keptMidiLibraryMessages()
{
    Store &s = store();
    const std::lock_guard<std::mutex> lock(s.mutex);
    return {s.lines.begin(), s.lines.end()};
}

bool midiLibrariesVerbose()
{
    return store().verbose.load();
}

void setMidiLibrariesVerbose(bool verbose)
{
    store().verbose.store(verbose);
}
