#include "midi_system.h"

#include <jack/jack.h>
#ifdef TARNWICK_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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

const char *const kNames[] = {"jack", "pipewire", "alsa", "jack-async", "jack-realtime"};

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
//
// On PipeWire the same JACK clients run through PipeWire's libjack (the test
// runs under pw-jack, and its children inherit that), on a daemon of the
// fixture's own: a private XDG_RUNTIME_DIR, the graph on PipeWire's dummy
// driver at 48 kHz with a quantum of the period (PIPEWIRE_QUANTUM, which the
// clients pass on to the graph).
class JackSystem final : public MidiSystem
{
public:
    JackSystem(unsigned period, MidiSystemKind kind) : period_(period), kind_(kind)
    {
        if (kind_ == MidiSystemKind::PipeWire &&
            !qgetenv("LD_LIBRARY_PATH").contains("pipewire-0.3/jack"))
            giveUp("the pipewire fixture needs PipeWire's libjack: run the test under pw-jack");
    }
    ~JackSystem() override
    {
        releasePorts();
        instrument().stop();
        stopServer(SIGTERM);
        for (int fd : unusable_)
            close(fd);
        if (slotFd_ >= 0)
            close(slotFd_);
    }
    MidiSystemKind kind() const override { return kind_; }
    unsigned periodFrames() const override { return period_; }
    bool startServer() override
    {
        if (kind_ == MidiSystemKind::PipeWire ? !startPipeWire() : !startJackd())
            return false;
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
    bool waitForClient(const std::string &name, bool present) override
    {
        for (int tries = 0; tries < 300 && hasClient(name) != present; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return hasClient(name) == present;
    }
    void stopServer(int signal) override
    {
        releasePorts();
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

    bool occupyPorts(int leaveFree) override
    {
        releasePorts();
        hog_ = jack_client_open("tarnwick-fixture-ports", JackNoStartServer, nullptr);
        std::vector<jack_port_t *> ports;
        for (jack_port_t *p = nullptr; hog_;) {
            const std::string name = "p" + std::to_string(ports.size());
            if (!(p = jack_port_register(hog_, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                         JackPortIsOutput, 0)))
                break;
            ports.push_back(p);
        }
        if (ports.size() < size_t(leaveFree))
            return false;
        for (int i = 0; i < leaveFree; ++i) {
            if (jack_port_unregister(hog_, ports.back()) != 0)
                return false;
            ports.pop_back();
        }
        return true;
    }
    void releasePorts() override
    {
        if (hog_)
            jack_client_close(hog_);
        hog_ = nullptr;
    }

private:
    bool hasClient(const std::string &name)
    {
        if (kind_ != MidiSystemKind::PipeWire) {
            char *uuid = jack_get_uuid_for_client_name(client_, name.c_str());
            jack_free(uuid);
            return uuid != nullptr;
        }
        // PipeWire's libjack still finds a client by name once it has gone.
        QProcess nodes;
        nodes.start("pw-cli", {"ls", "Node"});
        return nodes.waitForFinished(3000) &&
               nodes.readAllStandardOutput().contains(
                   QString("node.name = \"%1\"").arg(QString::fromStdString(name)).toUtf8());
    }

    // Starts jackd and joins it with the fixture's client.
    bool startJackd()
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
            std::vector<std::string> args = {"jackd", "--no-realtime", "--sync"};
            if (kind_ != MidiSystemKind::Jack)
                args.pop_back();
            if (kind_ == MidiSystemKind::JackRealtime)
                args = {"jackd", "-R", "-P", "70"};
            // A port table of 256, far below jackd's default: the rows that
            // fill it leave the programs a listing of 256 ports, not
            // thousands, and RtMidi lists them all again for each name.
            args.insert(args.end(), {"-p", "256", "-n", name, "-d", "dummy", "-r", "48000", "-p",
                                     std::to_string(period_)});
            if (!server_.start(args, "/tmp/tarnwick-jack-slot-" + std::to_string(slot_) + ".log"))
                return false;
            joinServer();
        }
        return client_ != nullptr;
    }

    // The fixture's client, once the server takes clients.
    void joinServer()
    {
        for (int tries = 0; tries < 250 && server_.isRunning() && !client_; ++tries) {
            client_ = jack_client_open("tarnwick-fixture", JackNoStartServer, nullptr);
            if (!client_)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool startPipeWire()
    {
        if (!runtime_.isValid() ||
            !QFile::setPermissions(runtime_.path(),
                                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return false;
        setenv("XDG_RUNTIME_DIR", qPrintable(runtime_.path()), 1);
        setenv("PIPEWIRE_QUANTUM", qPrintable(QString("%1/48000").arg(period_)), 1);
        // Read after the quantum; the updater may have set it in this process.
        setenv("PIPEWIRE_LATENCY", getenv("PIPEWIRE_QUANTUM"), 1);
        if (!server_.start({"pipewire"}, runtime_.filePath("pipewire.log").toStdString()))
            return false;
        joinServer();
        return client_ != nullptr;
    }

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
    MidiSystemKind kind_;
    QTemporaryDir runtime_; // PipeWire's
    int slot_ = 0;
    int slotFd_ = -1;
    std::vector<int> unusable_;
    ChildProcess server_;
    jack_client_t *client_ = nullptr;
    jack_port_t *probe_ = nullptr;
    jack_client_t *hog_ = nullptr; // occupyPorts()'
};

#ifdef TARNWICK_HAVE_ALSA
// The kernel's sequencer, inside the guest (scripts/guest-run): no server; the
// instrument is tarnwick-sim --alsa, whose clock is the real time at which the
// sequencer delivered each event, in microseconds. Here the whole program, the
// instrument and the sequencer share one emulated CPU, whose timer interrupts
// come up to about 1 ms late now and then; the stream port's own beat is shown
// within 0.1 ms by the sequencer's stream test.
class AlsaSystem final : public MidiSystem
{
public:
    AlsaSystem()
    {
        if (!QFile::exists(QStringLiteral("/dev/snd/seq")))
            giveUp("no ALSA sequencer here: the alsa fixture runs inside the guest "
                   "(scripts/guest-run)");
    }
    ~AlsaSystem() override { instrument().stop(); }
    MidiSystemKind kind() const override { return MidiSystemKind::Alsa; }
    unsigned periodFrames() const override { return 0; }
    bool startServer() override { return true; }
    void stopServer(int) override { giveUp("the sequencer is the kernel's: it cannot be stopped"); }
    // A sequencer port takes connections as soon as it is listed.
    bool waitForInput(const std::string &) override { return true; }
    double spacingToleranceMicros() const override { return 1000.0; }
    // The updater's stream port is the one sender into the instrument: its
    // subscription goes, as with aconnect -d (which takes too long to start here).
    bool cutConnection() override
    {
        snd_seq_t *seq = nullptr;
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
            return false;
        snd_seq_addr_t from, into;
        const std::string to = instrument().clientName().toStdString() + ":0";
        bool cut = snd_seq_parse_address(seq, &from, "Tarnwick Updater:0") == 0 &&
                   snd_seq_parse_address(seq, &into, to.c_str()) == 0;
        if (cut) {
            snd_seq_port_subscribe_t *subscription;
            snd_seq_port_subscribe_alloca(&subscription);
            snd_seq_port_subscribe_set_sender(subscription, &from);
            snd_seq_port_subscribe_set_dest(subscription, &into);
            cut = snd_seq_unsubscribe_port(seq, subscription) == 0;
        }
        snd_seq_close(seq);
        return cut;
    }

protected:
    QStringList instrumentMode() const override { return {"--alsa"}; }
};
#endif

} // namespace

const char *MidiSystem::name(MidiSystemKind kind)
{
    return kNames[int(kind)];
}

MidiSystemKind MidiSystem::selected()
{
    const QByteArray name = qgetenv("TARNWICK_TEST_MIDI");
    for (int k = 0; k < 5; ++k)
        if (name == kNames[k] || (k == 0 && name.isEmpty()))
            return MidiSystemKind(k);
    giveUp("TARNWICK_TEST_MIDI=" + QString(name) +
           " is not one of jack, jack-async, jack-realtime, pipewire, alsa");
}

std::unique_ptr<MidiSystem> MidiSystem::create(unsigned periodFrames)
{
    const MidiSystemKind kind = selected();
    // Unless asked for another (by the caller, or by TARNWICK_TEST_PERIOD), the
    // period each system runs by default: 128 frames for the jackd fixture,
    // 1024 (PipeWire's own default quantum, the one a desktop runs while no
    // application asks for less) on PipeWire.
    if (periodFrames == 0)
        periodFrames = unsigned(qEnvironmentVariableIntValue("TARNWICK_TEST_PERIOD"));
    if (periodFrames == 0)
        periodFrames = kind == MidiSystemKind::PipeWire ? 1024 : 128;
    if (kind != MidiSystemKind::Alsa)
        return std::make_unique<JackSystem>(periodFrames, kind);
#ifdef TARNWICK_HAVE_ALSA
    return std::make_unique<AlsaSystem>();
#else
    giveUp("this build has no ALSA support");
#endif
}

bool MidiSystem::startInstrument(const QStringList &options)
{
    // PipeWire shows a new client's ports to the others a little later: a
    // window that listed them at once found the instrument's input missing
    // (a CI run), and its Open opened nothing on that side.
    return instrument_.start(instrumentMode() + options) &&
           (kind() != MidiSystemKind::PipeWire || waitForInput(instrument_.inPort().toStdString()));
}
