// Proves the streaming output port on the kernel's ALSA sequencer (the test
// runs inside a QEMU guest, see scripts/guest-run), with two independent
// observers: arecordmidi, recording everything the port sends at 40 us per
// tick, and the simulated instrument, which stamps each event with the real
// time the sequencer delivered it. Shown: the bytes of every unit arrive in
// order and whole, the three zero bytes after F7 included; the pieces of a
// unit are 10 ms apart within 0.1 ms, the first gap included, also after the
// pauses the upload makes; a send lasts the unit's play time and no longer;
// an instrument that goes away, or a connection that is cut, ends the send at
// once with DRIVER_ERROR and leaves the port open.
#include "child_process.h"
#include "simulator.h"
#include "smf_reader.h"
#include "stream_test_support.h"

#include <QtTest>
#include <alsa/asoundlib.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// arecordmidi's time base: 25,000 ticks per quarter at 60 bpm, 40 us a tick.
constexpr int kRecordTicksPerQuarter = 25000;
constexpr int kRecordTicksPerPiece = 250;
// A gap seen by the recorder may be one tick off either way by quantisation.
constexpr int kRecordSlackTicks = 2 + 1;
// The instrument's stamps are in microseconds.
constexpr int kPieceMicros = 10000;
constexpr int kPieceSlackMicros = 100;
constexpr const char *kOwnPort = "Tarnwick Updater:0";
constexpr const char *kLost =
    "MidiOutAlsa::sendStream: the MIDI destination is gone; the unit was not played.";

qint64 msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Waits until the sequencer lists a second subscriber of our port (the
// recorder beside the instrument).
// Waits until the sequencer lists the instrument's client, or no longer does.
bool listsInstrument(bool listed)
{
    for (int i = 0; i < 200; ++i) {
        QFile clients(QStringLiteral("/proc/asound/seq/clients"));
        if (clients.open(QIODevice::ReadOnly) &&
            clients.readAll().contains("\"Varnox 1\"") == listed)
            return true;
        QThread::msleep(10);
    }
    return false;
}

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

class TestStreamAlsa : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void playsUnitsOnTheBeat_data();
    void playsUnitsOnTheBeat();
    void lossEndsTheSend_data();
    void lossEndsTheSend();

private:
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<StreamMidiOut> out_;
};

void TestStreamAlsa::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral("/dev/snd/seq")),
             "no ALSA sequencer here: this test runs through scripts/guest-run");
}

void TestStreamAlsa::init()
{
    sim_ = std::make_unique<Simulator>();
    QVERIFY2(sim_->start({"--alsa"}), qPrintable(sim_->log()));
    out_ = std::make_unique<StreamMidiOut>(RtMidi::LINUX_ALSA, "Tarnwick Test");
    int index = -1;
    for (unsigned i = 0; i < out_->getPortCount(); ++i) {
        if (QString::fromStdString(out_->getPortName(i)).startsWith("Varnox 1:Varnox 1 MIDI 1 "))
            index = int(i);
    }
    QVERIFY2(index >= 0, "the sequencer does not list the instrument's port");
    out_->openStreamPort(unsigned(index));
}

void TestStreamAlsa::cleanup()
{
    out_.reset();
    sim_.reset();
}

void TestStreamAlsa::playsUnitsOnTheBeat_data()
{
    QTest::addColumn<QList<int>>("pausesMs"); // before each unit; -1 marks the version request
    QTest::newRow("version request") << QList<int>{-1};
    QTest::newRow("one block") << QList<int>{0};
    QTest::newRow("request, block after the 250 ms pause, block after 30 ms")
        << QList<int>{-1, 250, 30};
    QTest::newRow("blocks after 1 s idle and back to back") << QList<int>{1000, 0, 0};
}

void TestStreamAlsa::playsUnitsOnTheBeat()
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

    std::vector<std::vector<unsigned char>> units;
    for (int i = 0; i < pausesMs.size(); ++i) {
        const bool request = pausesMs[i] < 0;
        units.push_back(request ? makeShortUnit() : makeBlockUnit(unsigned(i)));
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

    QVERIFY(sim_->requestSummary());
    const QJsonObject summary = sim_->summary();
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

void TestStreamAlsa::lossEndsTheSend_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("afterMs"); // into the send; -1: before it
    QTest::newRow("instrument gone before the send") << "kill" << -1;
    QTest::newRow("instrument killed mid-unit") << "kill" << 35;
    QTest::newRow("instrument quits mid-unit") << "term" << 35;
    QTest::newRow("connection cut mid-unit") << "disconnect" << 35;
}

void TestStreamAlsa::lossEndsTheSend()
{
    QFETCH(QString, fault);
    QFETCH(int, afterMs);
    // The cut is made in-process: a command started at that moment would
    // take longer than the unit to start in the guest.
    snd_seq_t *cutter = nullptr;
    QVERIFY(snd_seq_open(&cutter, "default", SND_SEQ_OPEN_DUPLEX, 0) == 0);
    snd_seq_port_subscribe_t *cut;
    snd_seq_port_subscribe_alloca(&cut);
    snd_seq_addr_t sender, dest;
    QVERIFY(snd_seq_parse_address(cutter, &sender, kOwnPort) == 0);
    QVERIFY(snd_seq_parse_address(cutter, &dest, "Varnox 1:0") == 0);
    snd_seq_port_subscribe_set_sender(cut, &sender);
    snd_seq_port_subscribe_set_dest(cut, &dest);

    Clock::time_point firedAt;
    auto fire = [&] {
        firedAt = Clock::now();
        if (fault == "kill")
            sim_->kill();
        else if (fault == "term")
            sim_->stop();
        else
            QVERIFY(snd_seq_unsubscribe_port(cutter, cut) == 0);
    };
    if (afterMs < 0) {
        fire();
        QVERIFY(listsInstrument(false));
    }
    std::thread faultThread;
    if (afterMs >= 0) {
        faultThread = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            fire();
        });
    }
    const std::vector<unsigned char> unit = makeBlockUnit(7);
    const auto sendStart = Clock::now();
    const RtMidiError error = errorOf([&] { out_->sendStream(unit.data(), unit.size()); });
    const qint64 stall = msSince(std::max(firedAt, sendStart));
    snd_seq_close(cutter);
    if (faultThread.joinable())
        faultThread.join();

    QCOMPARE(error.getType(), RtMidiError::DRIVER_ERROR);
    QCOMPARE(QString::fromStdString(error.getMessage()), QString(kLost));
    QVERIFY2(stall <= 50, qPrintable(QString("the send ended %1 ms after the loss").arg(stall)));
    QVERIFY(out_->isPortOpen());
    qInfo("FAULT %s: %lld ms", QTest::currentDataTag(), stall);
}

QTEST_GUILESS_MAIN(TestStreamAlsa)
#include "tst_stream_alsa.moc"
