#include "midi_system.h"

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char *const kNames[] = {"jack", "pipewire", "alsa"};

[[noreturn]] void giveUp(const QString &why)
{
    std::fprintf(stderr, "midi system: %s\n", qPrintable(why));
    std::exit(2);
}

// A private jackd, dummy backend at 48 kHz, in synchronous mode: a client that
// is late under load delays the cycle instead of losing its events, so frame
// times stay exact. Server names come from a few fixed slots, each taken with a
// file lock (JACK's registry keeps at most 8 names, and a server that died
// uncleanly holds its name until one of the same name starts again). Every
// JACK client of the process reaches it through JACK_DEFAULT_SERVER. A client
// of the fixture's own cuts connections at once.
class JackSystem final : public MidiSystem
{
public:
    explicit JackSystem(unsigned period) : period_(period) {}
    ~JackSystem() override
    {
        instrument().stop();
        stopServer(SIGTERM);
        for (int fd : unusable_)
            close(fd);
        if (slotFd_ >= 0)
            close(slotFd_);
    }
    MidiSystemKind kind() const override { return MidiSystemKind::Jack; }
    bool startServer() override
    {
        // A name that a dead server still holds in JACK's registry (its pid
        // since taken by another process) makes jackd exit at once with
        // "server already active": that slot stays locked and unused here.
        for (int attempt = 0; attempt < 4 && !client_; ++attempt) {
            if (attempt > 0) {
                std::fprintf(stderr, "midi system: jackd of slot %d exited; another slot\n", slot_);
                unusable_.push_back(slotFd_);
                slotFd_ = -1;
            }
            if (!takeSlot())
                return false;
            const std::string name = "tarnwick-test-" + std::to_string(slot_);
            setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
            if (!server_.start({"jackd", "--no-realtime", "--sync", "-n", name, "-d", "dummy", "-r",
                                "48000", "-p", std::to_string(period_)},
                               "/tmp/tarnwick-jack-slot-" + std::to_string(slot_) + ".log"))
                return false;
            for (int tries = 0; tries < 250 && server_.isRunning() && !client_; ++tries) {
                client_ = jack_client_open("tarnwick-fixture", JackNoStartServer, nullptr);
                if (!client_)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        probe_ = client_ ? jack_port_register(client_, "probe", JACK_DEFAULT_MIDI_TYPE,
                                              JackPortIsOutput, 0)
                         : nullptr;
        return probe_ && jack_activate(client_) == 0;
    }
    bool waitForInput(const std::string &port) override
    {
        for (int tries = 0; tries < 300; ++tries) {
            if (jack_connect(client_, jack_port_name(probe_), port.c_str()) == 0)
                return jack_disconnect(client_, jack_port_name(probe_), port.c_str()) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void stopServer(int signal) override
    {
        if (client_) // while the server can still take it back
            jack_client_close(client_);
        client_ = nullptr;
        server_.stop(signal);
    }
    double spacingToleranceMicros() const override { return 0.0; }
    bool cutConnection() override
    {
        const std::string in = instrument().inPort().toStdString();
        jack_port_t *port = client_ ? jack_port_by_name(client_, in.c_str()) : nullptr;
        const char **from = port ? jack_port_get_all_connections(client_, port) : nullptr;
        bool cut = from != nullptr;
        for (const char **f = from; f && *f; ++f)
            cut = jack_disconnect(client_, *f, in.c_str()) == 0 && cut;
        jack_free(from);
        return cut;
    }

private:
    // Waits up to 2 minutes for a free slot: other test processes, or a
    // developer's parallel build, may hold them all.
    bool takeSlot()
    {
        for (int wait = 0; slotFd_ < 0 && wait < 1200; ++wait) {
            for (int slot = 0; slot < 4 && slotFd_ < 0; ++slot) {
                const std::string lock =
                    "/tmp/tarnwick-jack-slot-" + std::to_string(slot) + ".lock";
                const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
                if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
                    slotFd_ = fd;
                    slot_ = slot;
                } else if (fd >= 0) {
                    close(fd);
                }
            }
            if (slotFd_ < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return slotFd_ >= 0;
    }

    unsigned period_;
    int slot_ = 0;
    int slotFd_ = -1;
    std::vector<int> unusable_;
    ChildProcess server_;
    jack_client_t *client_ = nullptr;
    jack_port_t *probe_ = nullptr;
};

} // namespace

const char *MidiSystem::name(MidiSystemKind kind)
{
    return kNames[int(kind)];
}

MidiSystemKind MidiSystem::selected()
{
    const QByteArray name = qgetenv("TARNWICK_TEST_MIDI");
    for (int k = 0; k < 3; ++k)
        if (name == kNames[k] || (k == 0 && name.isEmpty()))
            return MidiSystemKind(k);
    giveUp("TARNWICK_TEST_MIDI=" + QString(name) + " is not one of jack, pipewire, alsa");
}

std::unique_ptr<MidiSystem> MidiSystem::create(unsigned periodFrames)
{
    const MidiSystemKind kind = selected();
    if (kind != MidiSystemKind::Jack)
        giveUp(QString("the %1 fixture is not built yet").arg(name(kind)));
    return std::make_unique<JackSystem>(periodFrames);
}

bool MidiSystem::startInstrument(const QStringList &options)
{
    return instrument_.start(instrumentMode() + options);
}
