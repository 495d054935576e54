// Everything that needs neither a window nor a MIDI server: the bytes the tool
// sends, the replies it accepts, how a unit is cut and timed, the Windows
// event layout, the ALSA helpers, the API and port-name choices, the progress
// value. Expected values are written out as the instrument or user sees them.
#include "allocation_counter.h"
#include "alsa_stream_events.h"
#include "device_id.h"
#include "firmware_transfer.h"
#include "messages.h"
#include "midi.h"
#include "port_names.h"
#include "reply_callback.h"
#include "reply_flags.h"
#include "stream_backend.h"
#include "stream_schedule.h"

#include <QtTest>

#include <functional>

using Bytes = QByteArray;
static Bytes hex(const char *text)
{
    return Bytes::fromHex(text);
}
template <typename C> static Bytes bytesOf(const C &c, size_t from = 0, size_t n = 0)
{
    return Bytes(reinterpret_cast<const char *>(c.data()) + from, int(n ? n : c.size() - from));
}

// A backend that only records what it was asked to play.
class RecordingBackend final : public StreamBackend
{
public:
    RecordingBackend() : StreamBackend("MidiOutTest") {}
    QList<stream_framing::Piece> played;

protected:
    void openStream(unsigned, const std::string &, StreamPortList &) override {}
    void playUnit(const unsigned char *, const stream_framing::Piece *p, size_t n) override
    {
        for (size_t i = 0; i < n; ++i)
            played << p[i];
    }
    void closeStream() override {}
};
struct OnePort final : StreamPortList
{
    unsigned count() override { return 1; }
    std::string name(unsigned) override { return "Varnox 1:in"; }
};

namespace {
int messagesDuringCallback = 0;
void countMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
    ++messagesDuringCallback;
}
} // namespace

class TestUnits : public QObject
{
    Q_OBJECT

private slots:
    void messageBytes()
    {
        QCOMPARE(bytesOf(buildVersionRequest(kVarnoxDeviceId)), hex("F00315F7"));
        QCOMPARE(bytesOf(buildVersionRequest(kSoluneDeviceId)), hex("F00215F7"));

        DataBlockBuffer buffer{};
        unsigned char full[256];
        for (int k = 0; k < 256; ++k)
            full[k] = static_cast<unsigned char>(255 - k);
        buildDataBlockMessage(buffer, kVarnoxDeviceId, 1, 2, full, 256);
        QCOMPARE(bytesOf(buffer, 0, 14), hex("F003010001000201017F017E017D"));
        QCOMPARE(bytesOf(buffer, 264, 4), hex("007F007E")); // data bytes 128 and 129
        QCOMPARE(bytesOf(buffer, 516), hex("00010000F7000000"));
        const Bytes firstBlock = bytesOf(buffer);

        // A short last block: only its own pairs change; the rest is block 1's.
        const unsigned char last[3] = {0x80, 0xFF, 0x7F};
        buildDataBlockMessage(buffer, kVarnoxDeviceId, 2, 2, last, 3);
        QCOMPARE(bytesOf(buffer, 0, 14), hex("F0030100020002010100017F007F"));
        QCOMPARE(bytesOf(buffer, 14, 506), firstBlock.mid(14, 506));
        QCOMPARE(bytesOf(buffer, 520), hex("F7000000"));

        // 14-bit block number and count: 7-bit halves, high first.
        buildDataBlockMessage(buffer, kSoluneDeviceId, 200, 16383, last, 0);
        QCOMPARE(bytesOf(buffer, 0, 8), hex("F0020101487F7F01"));
    }
    void blockCount_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<unsigned>("blocks");
        // clang-format off
        for (auto row : {std::pair<qint64, unsigned>{0, 0}, {1, 1}, {256, 1}, {257, 2}, {512, 2},
                         {4194048, 16383}, {4194049, 16384}})
            // clang-format on
            QTest::addRow("%lld bytes", row.first) << row.first << row.second;
    }
    void blockCount()
    {
        QFETCH(qint64, size);
        QTEST(blockCountForSize(size), "blocks");
        QCOMPARE(size <= kMaxImageSize, size <= 4194048);
    }
    void replyAcceptance_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<Bytes>("reply");
        QTest::addColumn<bool>("ack");
        QTest::addColumn<Bytes>("version"); // empty: no version taken
        // clang-format off
        const struct { const char *name; int id; const char *reply; bool ack; const char *version; } rows[] = {
            {"ack Varnox", 3, "F00305F7", true, ""},          {"ack Solune", 2, "F00205F7", true, ""},
            {"ack, other id", 3, "F00205F7", false, ""},      {"ack, no F7", 3, "F0030500", false, ""},
            {"ack, a byte more", 3, "F00305F700", false, ""}, {"data block command", 3, "F00301F7", false, ""},
            {"version Varnox", 3, "F00315020107F7", false, "020107"},
            {"version Solune", 2, "F0021501027FF7", false, "01027F"},
            {"version, other id", 2, "F00315020107F7", false, ""},
            {"version, no F7", 3, "F003150201077F", false, ""},
            {"version, short", 3, "F0031502F7", false, ""},   {"empty", 3, "", false, ""}};
        // clang-format on
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.id << hex(r.reply) << r.ack << hex(r.version);
    }
    void replyAcceptance()
    {
        QFETCH(int, id);
        QFETCH(Bytes, reply);
        setDeviceId(id);
        clearAcknowledgement();
        clearVersionReceived();
        setVersionBytes(1, 0, 0);
        std::vector<unsigned char> message(reply.begin(), reply.end());
        // Under JACK the callback runs in the real-time process thread: it
        // must neither allocate nor write a message (Qt's logging allocates
        // and locks; with a handler of its own the formatting still does).
        messagesDuringCallback = 0;
        const QtMessageHandler testLog = qInstallMessageHandler(countMessage);
        startCountingAllocations();
        replyCallback(0.0, &message, nullptr);
        const long allocations = stopCountingAllocations();
        qInstallMessageHandler(testLog);
        QCOMPARE(allocations, 0L);
        QCOMPARE(messagesDuringCallback, 0);
        QTEST(acknowledgementReceived(), "ack");
        QFETCH(Bytes, version);
        QCOMPARE(versionReceived(), !version.isEmpty());
        QCOMPARE(bytesOf(versionBytes()), version.isEmpty() ? hex("010000") : version);
    }
    void unitFraming_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("pieces"); // delta/offset/length, or refused
        QTest::newRow("version request") << 4 << "0/0/4";
        QTest::newRow("data block") << 524
                                    << "5/0/48 5/48/48 5/96/48 5/144/48 5/192/48 5/240/48 5/288/48 "
                                       "5/336/48 5/384/48 5/432/48 5/480/44";
        for (int size : {1, 3, 5, 48, 523, 525, 528, 1024})
            QTest::addRow("%d bytes", size) << size << "refused";
    }
    void unitFraming()
    {
        QFETCH(int, size);
        QFETCH(QString, pieces);
        RecordingBackend backend;
        OnePort port;
        backend.open(0, "", port);
        std::vector<unsigned char> unit(size_t(size), 0x11);
        QString error = "none";
        try {
            backend.send(unit.data(), unit.size());
        } catch (const RtMidiError &e) {
            error = QString::fromStdString(e.getMessage());
            QCOMPARE(e.getType(), RtMidiError::INVALID_PARAMETER);
        }
        QStringList seen;
        for (const auto &p : backend.played)
            seen << QString("%1/%2/%3").arg(p.deltaTicks).arg(p.offset).arg(p.length);
        if (pieces == "refused") {
            QCOMPARE(error,
                     QString("MidiOutTest::sendStream: the 'size' argument (%1) is invalid: a "
                             "unit is 4 or 524 bytes; nothing was sent.")
                         .arg(size));
            QCOMPARE(seen, QStringList());
        } else {
            QCOMPARE(seen.join(' '), pieces);
        }
        QVERIFY(backend.isOpen());
        backend.close();
        backend.played.clear();
        backend.send(unit.data(), unit.size()); // closed: nothing, no report
        QCOMPARE(backend.played.size(), 0);
    }
    void openChecks()
    {
        RecordingBackend backend;
        OnePort port;
        std::string error;
        try {
            backend.open(1, "", port);
        } catch (const RtMidiError &e) {
            error = e.getMessage();
        }
        QCOMPARE(error, std::string("MidiOutTest::openStreamPort: the 'portNumber' argument (1) "
                                    "is invalid."));
        // A refused open names the platform's own service.
        QCOMPARE(streamProblemMessage("MidiOutWinMM", StreamProblem::OpenRefused),
                 std::string("MidiOutWinMM::openStreamPort: error creating Windows MM MIDI "
                             "streaming output port."));
        QCOMPARE(streamProblemMessage("MidiOutJack", StreamProblem::OpenRefused),
                 std::string("MidiOutJack::openStreamPort: error creating JACK MIDI streaming "
                             "output port."));
        QVERIFY(!backend.isOpen());
        backend.open(0, "", port);
        backend.open(0, "", port); // only warns: the first stays open
        const unsigned char unit[4] = {0xF0, 3, 0x15, 0xF7};
        backend.send(unit, 0); // only warns: nothing is played
        backend.send(unit, 4);
        QCOMPARE(backend.played.size(), 1);
        QElapsedTimer closing; // the service is given 100 ms before the port goes
        closing.start();
        backend.close();
        QVERIFY(closing.elapsed() >= 100 && !backend.isOpen());
    }
    void timingRule()
    {
        // 480 frames: 5 ticks of 2 ms at 48 kHz.
        StreamSchedule s;
        QCOMPARE(s.due(1000, 480), 1000u); // the first event plays at once
        s.played(1000);
        QCOMPARE(s.due(1001, 480), 1480u);
        QCOMPARE(s.due(1480, 480), 1480u);
        QCOMPARE(s.due(5000, 480), 5000u); // an idle gap: at once, never early
        s.played(0xFFFFFF00u);             // the 32-bit frame counter wraps
        QCOMPARE(s.due(0xFFFFFF10u, 480), 0xE0u);
        QCOMPARE(s.due(0x80u, 480), 0xE0u);
        QCOMPARE(s.due(0x100u, 480), 0x100u);
        QCOMPARE(stream_framing::unitPlayMicros(524), 110000u);
        QCOMPARE(stream_framing::unitPlayMicros(4), 0u);
    }
    void windowsEventLayout()
    {
        using namespace stream_framing;
        std::vector<unsigned char> unit(528, 0);
        for (size_t i = 0; i < 524; ++i)
            unit[i] = static_cast<unsigned char>(i & 0x7F);
        unsigned char buffer[kPieceBufferBytes];
        // clang-format off
        struct Row { Piece piece; const char *head; uint32_t length, recorded; } rows[] = {
            {{0, 0, 4}, "000000000000000004000080", 16, 16},
            {{5, 0, 48}, "050000000000000030000080", 64, 60},
            {{5, 480, 44}, "05000000000000002C000080", 64, 56}};
        // clang-format on
        for (const Row &r : rows) {
            writeEventBuffer(r.piece, unit.data(), buffer);
            QCOMPARE(Bytes(reinterpret_cast<char *>(buffer), 12), hex(r.head));
            QCOMPARE(Bytes(reinterpret_cast<char *>(buffer) + 12, int(r.piece.length)),
                     bytesOf(unit, r.piece.offset, r.piece.length));
            QCOMPARE(bufferLength(r.piece), r.length);
            QCOMPARE(bytesRecorded(r.piece), r.recorded);
        }
    }
    void alsaAddress_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("client"); // -1: not an address
        QTest::addColumn<int>("port");
        QTest::newRow("rtmidi") << "Varnox:Varnox MIDI 1 20:0" << 20 << 0;
        QTest::newRow("largest") << "Solune:Solune MIDI 2 191:254" << 191 << 254;
        QTest::newRow("bare") << "24:1" << 24 << 1;
        for (const char *bad :
             {"Varnox:Varnox MIDI 1", "", "Varnox 20:", "Varnox :3", "Varnox 2a:0", "Varnox -1:0",
              "Varnox 192:0", "Varnox 20:255", "Varnox 0020:0"})
            QTest::addRow("'%s'", bad) << bad << -1 << -1;
    }
    void alsaAddress()
    {
        QFETCH(QString, name);
        AlsaAddress a;
        const bool ok = parseAlsaAddress(name.toStdString(), a);
        QTEST(a.client, "client");
        QTEST(a.port, "port");
        QCOMPARE(ok, a.client >= 0);
    }
    void alsaLoss_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<int>>("addr"); // client, port (, destination client, port)
        QTest::addColumn<bool>("loss");
        // Our port is 130:0, the instrument's 20:0.
        // clang-format off
        QTest::newRow("instrument exits") << int(SND_SEQ_EVENT_CLIENT_EXIT) << QList<int>{20, 0} << true;
        QTest::newRow("other client exits") << int(SND_SEQ_EVENT_CLIENT_EXIT) << QList<int>{21, 0} << false;
        QTest::newRow("its port exits") << int(SND_SEQ_EVENT_PORT_EXIT) << QList<int>{20, 0} << true;
        QTest::newRow("its other port exits") << int(SND_SEQ_EVENT_PORT_EXIT) << QList<int>{20, 1} << false;
        QTest::newRow("our link cut") << int(SND_SEQ_EVENT_PORT_UNSUBSCRIBED) << QList<int>{130, 0, 20, 0} << true;
        QTest::newRow("another link cut") << int(SND_SEQ_EVENT_PORT_UNSUBSCRIBED) << QList<int>{131, 0, 20, 0} << false;
        QTest::newRow("port start") << int(SND_SEQ_EVENT_PORT_START) << QList<int>{20, 0} << false;
        // clang-format on
    }
    void alsaLoss()
    {
        QFETCH(int, type);
        QFETCH(QList<int>, addr);
        snd_seq_event_t e{};
        e.type = static_cast<snd_seq_event_type_t>(type);
        const auto a = [&](int i) { return static_cast<unsigned char>(addr[i]); };
        if (addr.size() == 4)
            e.data.connect = {{a(0), a(1)}, {a(2), a(3)}};
        else
            e.data.addr = {a(0), a(1)};
        QTEST(alsaAnnouncesLoss(e, AlsaAddress{20, 0}, AlsaAddress{130, 0}), "loss");
    }
    void apiChoice_data()
    {
        QTest::addColumn<QList<int>>(
            "ranks");                    // per API: -1 unusable, 0 no ports, 1 ports, 2 instrument
        QTest::addColumn<int>("chosen"); // index, -1 the dummy API
        // clang-format off
        QTest::newRow("first with an instrument") << QList<int>{2, 2} << 0;
        QTest::newRow("unusable skipped") << QList<int>{-1, 2} << 1;
        QTest::newRow("ports beat no ports") << QList<int>{0, -1, 1} << 2;
        QTest::newRow("instrument beats ports") << QList<int>{1, 0, 2} << 2;
        QTest::newRow("first with ports") << QList<int>{1, 1} << 0;
        QTest::newRow("first created") << QList<int>{-1, 0, 0} << 1;
        QTest::newRow("none usable") << QList<int>{-1, -1} << -1;
        QTest::newRow("no candidates") << QList<int>{} << -1;
        // clang-format on
    }
    void apiChoice()
    {
        QFETCH(QList<int>, ranks);
        const std::vector<RtMidi::Api> apis = {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK,
                                               RtMidi::WINDOWS_MM};
        std::vector<RtMidi::Api> candidates(apis.begin(), apis.begin() + ranks.size());
        const RtMidi::Api api = Midi::chooseApiAmong(candidates, [&](RtMidi::Api a) {
            return ranks[int(std::find(apis.begin(), apis.end(), a) - apis.begin())];
        });
        QFETCH(int, chosen);
        QCOMPARE(api, chosen < 0 ? RtMidi::RTMIDI_DUMMY : apis[size_t(chosen)]);
    }
    // The transport's input and output leave their server and try to join it
    // again while it refuses (here the ALSA library, given a configuration
    // without a sequencer, as when the server went away again before the
    // join). Each stays a usable object that lists nothing, and joins later.
    void joinRefused()
    {
        QTemporaryFile noSequencer;
        QVERIFY(noSequencer.open());
        const QByteArray before = qgetenv("ALSA_CONFIG_PATH");
        qputenv("ALSA_CONFIG_PATH", noSequencer.fileName().toLocal8Bit());
        // Without a JACK server RtMidi's JACK side only warns.
        ServiceMidiIn in(RtMidi::UNIX_JACK, "tst_units in", 10);
        StreamMidiOut out(RtMidi::UNIX_JACK, "tst_units out");
        in.leave();
        out.leave();
        QStringList refusals;
        for (const auto &join : std::initializer_list<std::function<void()>>{
                 [&] { in.join(RtMidi::LINUX_ALSA, "tst_units in", 10); },
                 [&] { out.join(RtMidi::LINUX_ALSA, "tst_units out"); }}) {
            try {
                join();
            } catch (const RtMidiError &e) {
                refusals << QString::fromStdString(e.getMessage());
            }
        }
        before.isNull() ? qunsetenv("ALSA_CONFIG_PATH") : qputenv("ALSA_CONFIG_PATH", before);
        QCOMPARE(
            refusals,
            QStringList({"MidiInAlsa::initialize: error creating ALSA sequencer client object.",
                         "MidiOutAlsa::initialize: error creating ALSA sequencer client "
                         "object."}));
        QCOMPARE(in.getPortCount() + out.getPortCount(), 0u);
        QVERIFY(!in.isPortOpen() && !out.isPortOpen());
        QVERIFY(!in.joined() && !out.joined());
        QCOMPARE(out.getCurrentApi(), RtMidi::UNIX_JACK);
        in.closePort();
        out.closePort();
        in.join(RtMidi::UNIX_JACK, "tst_units in", 10);
        out.join(RtMidi::UNIX_JACK, "tst_units out");
        QVERIFY(in.joined() && out.joined());
        QCOMPARE(in.getCurrentApi(), RtMidi::UNIX_JACK);
    }
    void portNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("model"); // empty: not an instrument
        // clang-format off
        const char *rows[][2] = {
            {"Varnox 1", "Varnox"}, {"Solune 2", "Solune"}, {"Solune", "Solune"}, {"Varnox 1:in", "Varnox"},
            {"Solune 3-01:out", "Solune"}, {"Varnox:Varnox MIDI 1 20:0", "Varnox"},
            {"Midi-Bridge:Varnox 1:(capture_0) Varnox MIDI 1", "Varnox"},
            {"a2j:Varnox [20] (capture): Varnox MIDI 1", "Varnox"},
            {"2- Varnox 1", "Varnox"}, {"12- Solune 1", "Solune"}, {"2-Varnox 1", ""}, {"- Varnox 1", ""},
            {"2 Varnox 1", ""}, {"x2- Varnox 1", ""},
            {"varnox 1", ""}, {"Varnox-Desk 1", ""}, {"My Varnox 1", ""}, {" Varnox 1", ""},
            {"Midi Through:Midi Through Port-0 14:0", ""}, {"USB Hub:Varnox MIDI 1 24:0", ""},
            {"Midi-Bridge:Hub 2:(capture_0) Varnox MIDI 1", ""},
            {"RtMidi Input Client:RtMidi Input", ""}, {"Tarnwick Updater:RtMidi Output", ""}};
        // clang-format on
        for (const auto &row : rows)
            QTest::addRow("%s", row[0]) << QString(row[0]) << QString(row[1]);
    }
    void portNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, model);
        QCOMPARE(modelWordOfPort(name), model);
        QCOMPARE(isInstrumentPortName(name.toStdString()), !model.isEmpty());
        QCOMPARE(portMatchesSelection(name, "Varnox"), model == "Varnox");
        QCOMPARE(deviceIdForModel(model.toStdString()), model == "Varnox"   ? 0x03
                                                        : model == "Solune" ? 0x02
                                                                            : -1);
    }
    void progress_data()
    {
        QTest::addColumn<unsigned>("block");
        QTest::addColumn<unsigned>("count");
        QTest::addColumn<int>("shown");
        // clang-format off
        const unsigned rows[][3] = {{1, 3, 33}, {2, 3, 66}, {3, 3, 100}, {53, 100, 52}, {59, 100, 58},
                                    {29, 100, 29}, {7, 20, 35}, {1, 1, 100}, {1, 16383, 0}, {16383, 16383, 100}};
        // clang-format on
        for (const auto &r : rows)
            QTest::addRow("%u of %u", r[0], r[1]) << r[0] << r[1] << int(r[2]);
    }
    void progress()
    {
        QFETCH(unsigned, block);
        QFETCH(unsigned, count);
        QTEST(progressPercent(block, count), "shown");
    }
};

QTEST_GUILESS_MAIN(TestUnits)
#include "tst_units.moc"
