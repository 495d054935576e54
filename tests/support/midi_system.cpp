#include "midi_system.h"

#include "jack_server.h"

#include <jack/jack.h>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void giveUp(const QString &why)
{
    std::fprintf(stderr, "midi system: %s\n", qPrintable(why));
    std::exit(2);
}

// A private JACK server in synchronous mode: exact frame times, no lost events.
// A client of the fixture's own cuts connections at once (a jack_disconnect
// process would take tens of milliseconds to start).
class JackSystem final : public MidiSystem
{
public:
    explicit JackSystem(unsigned period) : server_(period) {}
    ~JackSystem() override
    {
        instrument().stop();
        closeClient();
    }
    MidiSystemKind kind() const override { return MidiSystemKind::Jack; }
    bool startServer() override
    {
        if (!server_.start())
            return false;
        client_ = jack_client_open("tarnwick-fixture", JackNoStartServer, nullptr);
        return client_ != nullptr;
    }
    void stopServer(int signal) override
    {
        closeClient(); // while the server can still take it back
        server_.stop(signal);
    }
    pid_t serverPid() const override { return server_.pid(); }
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
    void closeClient()
    {
        if (client_)
            jack_client_close(client_);
        client_ = nullptr;
    }

    JackServer server_;
    jack_client_t *client_ = nullptr;
};

} // namespace

MidiSystemKind MidiSystem::selected()
{
    const QByteArray name = qgetenv("TARNWICK_TEST_MIDI");
    if (name.isEmpty() || name == "jack")
        return MidiSystemKind::Jack;
    if (name == "pipewire")
        return MidiSystemKind::PipeWire;
    if (name == "alsa")
        return MidiSystemKind::Alsa;
    giveUp("TARNWICK_TEST_MIDI=" + QString(name) + " is not one of jack, pipewire, alsa");
}

const char *MidiSystem::name(MidiSystemKind kind)
{
    return kind == MidiSystemKind::Jack       ? "jack"
           : kind == MidiSystemKind::PipeWire ? "pipewire"
                                              : "alsa";
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
