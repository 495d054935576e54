// Proves the transport object: its MIDI API choice skips an API that cannot
// start (here ALSA, which throws without /dev/snd) instead of ending the program,
// prefers an API that has ports, and ends on RtMidi's dummy API when nothing
// starts; with no JACK server at all it is created without throwing and lists
// no ports; created before a server runs, it still finds that server's ports
// later (RtMidi's JACK client connects lazily); the input carries the input
// client name, and 4- and 7-byte SysEx replies reach its callback whole, F0..F7.
// Limits: JACK dummy backend at 48 kHz / 128 frames; no real ALSA sequencer.
#include "jack_server.h"
#include "midi.h"

#include <QtTest>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

using Bytes = std::vector<unsigned char>;

// A server name no server uses: JACK clients find nothing to connect to.
void pointJackAtNoServer()
{
    const QByteArray name = "tarnwick-none-" + QByteArray::number(getpid());
    qputenv("JACK_DEFAULT_SERVER", name);
}

bool alsaSequencerPresent()
{
    return access("/dev/snd/seq", F_OK) == 0;
}

// Messages the input callback received. The callback runs on JACK's real-time
// thread, so it only copies into storage made beforehand and publishes a count.
struct Received
{
    static constexpr int kMax = 8;
    static constexpr size_t kMaxBytes = 16;
    std::array<std::array<unsigned char, kMaxBytes>, kMax> bytes{};
    std::array<size_t, kMax> sizes{};
    std::atomic<int> count{0};

    std::vector<Bytes> messages() const
    {
        std::vector<Bytes> out;
        for (int i = 0; i < count.load(std::memory_order_acquire); ++i)
            out.emplace_back(bytes[i].begin(), bytes[i].begin() + sizes[i]);
        return out;
    }
};

void collect(double, std::vector<unsigned char> *message, void *userData)
{
    auto *received = static_cast<Received *>(userData);
    const int i = received->count.load(std::memory_order_relaxed);
    if (i >= Received::kMax)
        return;
    const size_t size = std::min(message->size(), Received::kMaxBytes);
    std::copy(message->begin(), message->begin() + size, received->bytes[i].begin());
    received->sizes[i] = message->size() <= Received::kMaxBytes ? size : 0;
    received->count.store(i + 1, std::memory_order_release);
}

} // namespace

class TestMidiTransport : public QObject
{
    Q_OBJECT

private slots:
    void choosesAmongCandidates_data();
    void choosesAmongCandidates();
    void skipsAnApiThatThrows();
    void createdWithoutAnyServer();
    void findsPortsOfAServerStartedLater();
    void prefersJackWithPortsWhenAlsaIsMissing();
    void inputUsesItsClientName();
    void shortSysExArrivesWhole();
};

// Probe results per candidate: -1 cannot be created, 0 no ports, 1 ports, 2 an
// instrument's port among them.
void TestMidiTransport::choosesAmongCandidates_data()
{
    QTest::addColumn<std::vector<int>>("probes");
    QTest::addColumn<int>("expected"); // index into the candidates, -1 = dummy
    QTest::newRow("first with an instrument wins") << std::vector<int>{2, 2} << 0;
    QTest::newRow("throwing first is skipped") << std::vector<int>{-1, 2} << 1;
    QTest::newRow("ports beat an earlier empty one") << std::vector<int>{0, -1, 1} << 2;
    QTest::newRow("first with ports, none with an instrument") << std::vector<int>{1, 1} << 0;
    QTest::newRow("an instrument beats earlier ports") << std::vector<int>{1, 0, 2} << 2;
    QTest::newRow("no ports anywhere: first created") << std::vector<int>{-1, 0, 0} << 1;
    QTest::newRow("nothing created: dummy") << std::vector<int>{-1, -1} << -1;
    QTest::newRow("no candidates: dummy") << std::vector<int>{} << -1;
}

void TestMidiTransport::choosesAmongCandidates()
{
    QFETCH(std::vector<int>, probes);
    QFETCH(int, expected);
    const std::vector<RtMidi::Api> order = {RtMidi::MACOSX_CORE, RtMidi::LINUX_ALSA,
                                            RtMidi::UNIX_JACK, RtMidi::WINDOWS_MM};
    std::vector<RtMidi::Api> candidates(order.begin(), order.begin() + probes.size());
    std::map<RtMidi::Api, int> result;
    for (size_t i = 0; i < probes.size(); ++i)
        result[candidates[i]] = probes[i];
    std::vector<RtMidi::Api> probed;
    const RtMidi::Api chosen = Midi::chooseApiAmong(candidates, [&](RtMidi::Api api) {
        probed.push_back(api);
        return result.at(api);
    });
    QCOMPARE(int(chosen), int(expected < 0 ? RtMidi::RTMIDI_DUMMY : candidates[expected]));
    // Probing stops at the first API with an instrument; it never goes out of order.
    const size_t stop = expected >= 0 && probes[expected] >= 2 ? expected + 1 : probes.size();
    QCOMPARE(probed, std::vector<RtMidi::Api>(candidates.begin(), candidates.begin() + stop));
}

void TestMidiTransport::skipsAnApiThatThrows()
{
    if (alsaSequencerPresent())
        QSKIP("this machine has an ALSA sequencer; the throwing case needs none");
    pointJackAtNoServer();
    // What RtMidi's own automatic choice does here: the reason chooseApi() exists.
    QVERIFY_EXCEPTION_THROWN(RtMidiIn(RtMidi::UNSPECIFIED), RtMidiError);
    QCOMPARE(Midi::probePorts(RtMidi::LINUX_ALSA), -1);
    QCOMPARE(Midi::probePorts(RtMidi::UNIX_JACK), 0);
}

void TestMidiTransport::createdWithoutAnyServer()
{
    pointJackAtNoServer();
    std::unique_ptr<Midi> midi;
    try {
        midi = std::make_unique<Midi>();
    } catch (const RtMidiError &e) {
        QFAIL(e.what());
    }
    QCOMPARE(midi->midiIn.getPortCount(), 0u);
    QCOMPARE(midi->midiOut.getPortCount(), 0u);
    QCOMPARE(midi->midiIn.getCurrentApi(), midi->midiOut.getCurrentApi());
    QVERIFY(!midi->midiIn.isPortOpen());
    QVERIFY(!midi->midiOut.isPortOpen());
}

void TestMidiTransport::findsPortsOfAServerStartedLater()
{
    if (alsaSequencerPresent())
        QSKIP("with an ALSA sequencer the choice may differ");
    pointJackAtNoServer();
    Midi midi; // as the process-wide object is: before any server runs
    QCOMPARE(midi.midiIn.getCurrentApi(), RtMidi::UNIX_JACK);
    QCOMPARE(midi.midiIn.getPortCount(), 0u);

    JackServer server;
    QVERIFY(server.start());
    RtMidiOut source(RtMidi::UNIX_JACK, "Varnox 1");
    source.openVirtualPort("out");
    RtMidiIn sink(RtMidi::UNIX_JACK, "Varnox 1 sink");
    sink.openVirtualPort("in");

    QCOMPARE(midi.midiIn.getPortCount(), 1u);
    QCOMPARE(QString::fromStdString(midi.midiIn.getPortName(0)), QString("Varnox 1:out"));
    QCOMPARE(midi.midiOut.getPortCount(), 1u);
    QCOMPARE(QString::fromStdString(midi.midiOut.getPortName(0)), QString("Varnox 1 sink:in"));
}

void TestMidiTransport::prefersJackWithPortsWhenAlsaIsMissing()
{
    if (alsaSequencerPresent())
        QSKIP("with an ALSA sequencer the choice may differ");
    JackServer server;
    QVERIFY(server.start());
    RtMidiOut source(RtMidi::UNIX_JACK, "Solune 1");
    source.openVirtualPort("out");
    QCOMPARE(Midi::chooseApi(), RtMidi::UNIX_JACK);
    QCOMPARE(Midi::probePorts(RtMidi::UNIX_JACK), int(Midi::kPorts));
    const Midi::InstrumentPortTest solune = [](const std::string &name) {
        return name.rfind("Solune ", 0) == 0;
    };
    const Midi::InstrumentPortTest varnox = [](const std::string &name) {
        return name.rfind("Varnox ", 0) == 0;
    };
    QCOMPARE(Midi::probePorts(RtMidi::UNIX_JACK, solune), int(Midi::kInstrumentPorts));
    QCOMPARE(Midi::probePorts(RtMidi::UNIX_JACK, varnox), int(Midi::kPorts));
    QCOMPARE(Midi::chooseApi(solune), RtMidi::UNIX_JACK);
    Midi midi;
    QCOMPARE(midi.midiOut.getCurrentApi(), RtMidi::UNIX_JACK);
    QCOMPARE(QString::fromStdString(midi.midiIn.getPortName(0)), QString("Solune 1:out"));
}

void TestMidiTransport::inputUsesItsClientName()
{
    JackServer server;
    QVERIFY(server.start());
    RtMidiOut source(RtMidi::UNIX_JACK, "Varnox 1");
    source.openVirtualPort("out");
    Midi midi(RtMidi::UNIX_JACK);
    midi.midiIn.openPort(0, "RtMidi Input");
    QVERIFY(midi.midiIn.isPortOpen());
    const std::string ports = jackPorts(server.name());
    QVERIFY2(ports.find("RtMidi Input Client:RtMidi Input") != std::string::npos, ports.c_str());
    midi.midiIn.closePort();
    QVERIFY(!midi.midiIn.isPortOpen());
}

void TestMidiTransport::shortSysExArrivesWhole()
{
    JackServer server;
    QVERIFY(server.start());
    RtMidiOut source(RtMidi::UNIX_JACK, "Varnox 1");
    source.openVirtualPort("out");
    Midi midi(RtMidi::UNIX_JACK);
    Received received;
    midi.midiIn.openPort(0, "RtMidi Input");
    midi.midiIn.ignoreTypes(false, false, false);
    midi.midiIn.setCallback(collect, &received);
    // A message written right after connecting can be lost: let a cycle pass.
    QTest::qWait(20);

    const std::vector<Bytes> sent = {{0xF0, 0x03, 0x05, 0xF7},
                                     {0xF0, 0x03, 0x15, 0x01, 0x02, 0x03, 0xF7},
                                     {0xF0, 0x02, 0x05, 0xF7}};
    for (const Bytes &message : sent) {
        Bytes copy = message;
        source.sendMessage(&copy);
        QTest::qWait(10); // each in its own period, as replies come
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.count.load(), int(sent.size()), 2000);
    midi.midiIn.cancelCallback();
    midi.midiIn.closePort();
    QCOMPARE(received.messages(), sent);
}

QTEST_GUILESS_MAIN(TestMidiTransport)
#include "tst_midi_transport.moc"
