// Proves the streaming output port on the kernel's ALSA sequencer (the test
// runs inside a QEMU guest, see scripts/guest-run), with two independent
// observers: arecordmidi, recording everything the port sends at 40 us per
// tick, and the simulated instrument, which stamps each event with the real
// time the sequencer delivered it. Shown: the bytes of every unit arrive in
// order and whole, the three zero bytes after F7 included; the pieces of a
// unit are 10 ms apart within 0.1 ms, the first gap included, also after the
// pauses the upload makes; a send lasts the unit's play time and no longer.
// What a lost instrument does to a send is shown by the window's rows, which
// run on the sequencer too.
#include "child_process.h"
#include "midi_system.h"
#include "smf_reader.h"
#include "stream_midi_out.h"

#include <QtTest>

#include <chrono>
#include <csignal>

namespace {

using Clock = std::chrono::steady_clock;
using Unit = std::vector<unsigned char>;

// A data block message: F0, 519 7-bit bytes that differ with seed, F7, 0, 0, 0.
Unit blockUnit(unsigned seed)
{
    Unit u(524, 0);
    u[0] = 0xF0;
    for (size_t i = 1; i < 520; ++i)
        u[i] = static_cast<unsigned char>((i * 7 + seed * 13) & 0x7F);
    u[520] = 0xF7;
    return u;
}
const Unit kRequest = {0xF0, 0x03, 0x15, 0xF7};

// arecordmidi's time base: 25,000 ticks per quarter at 60 bpm, 40 us a tick.
constexpr int kRecordTicksPerQuarter = 25000;
constexpr int kRecordTicksPerPiece = 250;
// A gap seen by the recorder may be one tick off either way by quantisation.
constexpr int kRecordSlackTicks = 2 + 1;
// The instrument's stamps are in microseconds.
constexpr int kPieceMicros = 10000;
constexpr int kPieceSlackMicros = 100;
constexpr const char *kOwnPort = "Tarnwick Updater:0";

qint64 msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Waits until the sequencer lists a second subscriber of our port (the
// recorder beside the instrument).
bool recorderSubscribed()
{
    for (int i = 0; i < 200; ++i) {
        QFile clients(QStringLiteral("/proc/asound/seq/clients"));
        if (clients.open(QIODevice::ReadOnly)) {
            const QString text = QString::fromLatin1(clients.readAll());
            const int own = text.indexOf(QStringLiteral("\"Tarnwick Updater\""));
            const int to = text.indexOf(QStringLiteral("Connecting To:"), own);
            const int eol = text.indexOf(QLatin1Char('\n'), to);
            if (own >= 0 && to >= 0 && text.mid(to, eol - to).count(QLatin1Char(',')) >= 1)
                return true;
        }
        QThread::msleep(10);
    }
    return false;
}

} // namespace

class TestAlsa : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void playsUnitsOnTheBeat_data();
    void playsUnitsOnTheBeat();

private:
    std::unique_ptr<MidiSystem> system_;
    std::unique_ptr<StreamMidiOut> out_;
};

void TestAlsa::initTestCase()
{
    QCOMPARE(MidiSystem::selected(), MidiSystemKind::Alsa);
}

void TestAlsa::init()
{
    system_ = MidiSystem::create();
    QVERIFY(system_->startServer());
    QVERIFY2(system_->startInstrument(), qPrintable(system_->instrument().log()));
    out_ = std::make_unique<StreamMidiOut>(RtMidi::LINUX_ALSA, "Tarnwick Test");
    int index = -1;
    for (unsigned i = 0; i < out_->getPortCount(); ++i) {
        if (QString::fromStdString(out_->getPortName(i)).startsWith("Varnox 1:Varnox 1 MIDI 1 "))
            index = int(i);
    }
    QVERIFY2(index >= 0, "the sequencer does not list the instrument's port");
    out_->openStreamPort(unsigned(index));
}

void TestAlsa::cleanup()
{
    out_.reset();
    system_.reset();
}

void TestAlsa::playsUnitsOnTheBeat_data()
{
    QTest::addColumn<QList<int>>("pausesMs"); // before each unit; -1 marks the version request
    QTest::newRow("version request") << QList<int>{-1};
    QTest::newRow("one block") << QList<int>{0};
    QTest::newRow("request, block after the 250 ms pause, block after 30 ms")
        << QList<int>{-1, 250, 30};
    QTest::newRow("blocks after 1 s idle and back to back") << QList<int>{1000, 0, 0};
}

void TestAlsa::playsUnitsOnTheBeat()
{
    QFETCH(QList<int>, pausesMs);
    QTemporaryDir dir;
    const QString recording = dir.filePath("witness.mid");
    ChildProcess recorder;
    QVERIFY(
        recorder.start({"arecordmidi", "-p", kOwnPort, "-t", std::to_string(kRecordTicksPerQuarter),
                        "-b", "60", recording.toStdString()},
                       dir.filePath("arecordmidi.log").toStdString()));
    QVERIFY2(recorderSubscribed(), "arecordmidi did not subscribe to the port");

    std::vector<Unit> units;
    for (int i = 0; i < pausesMs.size(); ++i) {
        const bool request = pausesMs[i] < 0;
        units.push_back(request ? kRequest : blockUnit(unsigned(i)));
        if (!request)
            QThread::msleep(unsigned(pausesMs[i]));
        const auto start = Clock::now();
        out_->sendStream(units.back().data(), units.back().size());
        const qint64 took = msSince(start);
        if (!request) {
            // Ten gaps of 10 ms, after a start at most two ticks (4 ms) away.
            QVERIFY2(took >= 100 && took <= 100 + 4 + 20,
                     qPrintable(QString("a block send took %1 ms").arg(took)));
        }
    }
    QThread::msleep(50);
    QCOMPARE(recorder.stop(SIGINT), 0);

    SmfRecording witness;
    std::string error;
    QVERIFY2(readSmfSysex(recording.toStdString(), witness, error), error.c_str());
    QCOMPARE(int(witness.ticksPerQuarter), kRecordTicksPerQuarter);
    size_t next = 0;
    for (const auto &unit : units) {
        const size_t pieces = unit.size() == 4 ? 1 : 11;
        QVERIFY2(next + pieces <= witness.sysex.size(),
                 qPrintable(QString("%1 events recorded").arg(witness.sysex.size())));
        std::vector<unsigned char> joined;
        for (size_t p = next; p < next + pieces; ++p) {
            const auto &bytes = witness.sysex[p].bytes;
            QCOMPARE(int(bytes.size()), unit.size() == 4 ? 4 : (p - next == 10 ? 44 : 48));
            joined.insert(joined.end(), bytes.begin(), bytes.end());
            if (p > next) {
                const auto gap = witness.sysex[p].tick - witness.sysex[p - 1].tick;
                QVERIFY2(qAbs(qint64(gap) - kRecordTicksPerPiece) <= kRecordSlackTicks,
                         qPrintable(QString("piece %1: %2 ticks after the previous one")
                                        .arg(p - next + 1)
                                        .arg(gap)));
            }
        }
        QVERIFY(joined == unit);
        next += pieces;
    }
    QCOMPARE(witness.sysex.size(), next);

    system_->instrument().stop();
    const QJsonObject summary = system_->instrument().summary();
    QCOMPARE(summary["sample_rate"].toInt(), 1000000);
    QCOMPARE(summary["pieces"].toInt(), int(next));
    if (units.size() > 1 || units[0].size() > 4) {
        const QJsonObject spacing = summary["in_message_spacing_frames"].toObject();
        QVERIFY2(spacing["min"].toInt() >= kPieceMicros - kPieceSlackMicros &&
                     spacing["max"].toInt() <= kPieceMicros + kPieceSlackMicros,
                 qPrintable(QString("pieces %1..%2 us apart")
                                .arg(spacing["min"].toInt())
                                .arg(spacing["max"].toInt())));
    }
}

QTEST_GUILESS_MAIN(TestAlsa)
#include "tst_alsa.moc"
