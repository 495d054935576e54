// Proves the platform-neutral parts of the streaming port that every backend
// relies on: the framing of a unit into events (one event for 4 bytes; 11
// pieces of 48 x 10 + 44 bytes, 5 ticks apart, covering all 524 bytes), the
// Windows stream event layout, the timing rule (10 ms after the previous
// event or at once), the error texts and RtMidi's reporting convention, and
// the state checks the backends share. No MIDI service is needed.
#include "stream_backend.h"
#include "stream_backend_factory.h"
#include "stream_schedule.h"
#include "stream_test_support.h"

#include <QtTest>

#include <cstring>

using namespace stream_framing;

namespace {

// A backend that records what the shared code hands it.
class FakeBackend final : public StreamBackend
{
public:
    FakeBackend() : StreamBackend("MidiOutFake") {}
    ~FakeBackend() override { close(); }

    bool refuseOpen = false;
    int opens = 0;
    int closes = 0;
    std::vector<std::vector<unsigned char>> played;
    std::vector<unsigned char> lastCopy;

protected:
    void openStream(unsigned, const std::string &, StreamPortList &) override
    {
        ++opens;
        if (refuseOpen)
            report(StreamProblem::OpenRefused);
    }
    void playUnit(const unsigned char *unit, const Piece *pieces, size_t count) override
    {
        lastCopy.assign(unit, unit + kUnitCopyBytes);
        for (size_t i = 0; i < count; ++i)
            played.emplace_back(unit + pieces[i].offset,
                                unit + pieces[i].offset + pieces[i].length);
    }
    void closeStream() override { ++closes; }
};

class FakePorts final : public StreamPortList
{
public:
    explicit FakePorts(unsigned n) : n_(n) {}
    unsigned count() override { return n_; }
    std::string name(unsigned i) override { return "Varnox port " + std::to_string(i); }

private:
    unsigned n_;
};

} // namespace

class TestStreamFraming : public QObject
{
    Q_OBJECT

private slots:
    void shortUnitIsOneImmediateEvent();
    void blockUnitIsElevenPiecesCoveringEveryByte();
    void otherSizesAreNotUnits_data();
    void otherSizesAreNotUnits();
    void windowsEventLayout_data();
    void windowsEventLayout();
    void scheduleFollowsTheTimingRule_data();
    void scheduleFollowsTheTimingRule();
    void problemTextsAndTypes_data();
    void problemTextsAndTypes();
    void reportFollowsRtMidiConvention();
    void sharedStateChecks();
    void sendHandsOverACopyAndRefusesOtherSizes();
    void apiWithoutStreamingCannotOpen();
};

void TestStreamFraming::shortUnitIsOneImmediateEvent()
{
    Piece pieces[kMaxPieces];
    QCOMPARE(frameUnit(4, pieces), size_t{1});
    QCOMPARE(pieces[0].deltaTicks, 0u);
    QCOMPARE(pieces[0].offset, 0u);
    QCOMPARE(pieces[0].length, 4u);
    QCOMPARE(unitPlayMicros(4), 0u);
}

void TestStreamFraming::blockUnitIsElevenPiecesCoveringEveryByte()
{
    Piece pieces[kMaxPieces];
    QCOMPARE(frameUnit(524, pieces), size_t{11});
    uint32_t next = 0;
    for (size_t k = 0; k < 11; ++k) {
        QCOMPARE(pieces[k].deltaTicks, 5u);
        QCOMPARE(pieces[k].offset, next);
        QCOMPARE(pieces[k].length, k < 10 ? 48u : 44u);
        QCOMPARE(pieces[k].length % 4, 0u);
        next += pieces[k].length;
    }
    QCOMPARE(next, 524u);
    // 11 pieces of 5 ticks of 2 ms.
    QCOMPARE(kTickMicros, 2000u);
    QCOMPARE(unitPlayMicros(524), 110000u);
}

void TestStreamFraming::otherSizesAreNotUnits_data()
{
    QTest::addColumn<size_t>("size");
    for (size_t size : {0, 1, 3, 5, 48, 520, 523, 525, 528, 100000})
        QTest::newRow(std::to_string(size).c_str()) << size;
}

void TestStreamFraming::otherSizesAreNotUnits()
{
    QFETCH(size_t, size);
    Piece pieces[kMaxPieces];
    QCOMPARE(frameUnit(size, pieces), size_t{0});
}

void TestStreamFraming::windowsEventLayout_data()
{
    QTest::addColumn<size_t>("unitSize");
    QTest::addColumn<int>("piece");
    QTest::addColumn<uint32_t>("delta");
    QTest::addColumn<uint32_t>("event");
    QTest::addColumn<uint32_t>("length");
    QTest::addColumn<uint32_t>("recorded");
    QTest::newRow("short") << size_t{4} << 0 << 0u << 0x80000004u << 16u << 16u;
    QTest::newRow("piece 1") << size_t{524} << 0 << 5u << 0x80000030u << 64u << 60u;
    QTest::newRow("piece 10") << size_t{524} << 9 << 5u << 0x80000030u << 64u << 60u;
    QTest::newRow("piece 11") << size_t{524} << 10 << 5u << 0x8000002Cu << 64u << 56u;
}

void TestStreamFraming::windowsEventLayout()
{
    QFETCH(size_t, unitSize);
    QFETCH(int, piece);
    QFETCH(uint32_t, delta);
    QFETCH(uint32_t, event);
    QFETCH(uint32_t, length);
    QFETCH(uint32_t, recorded);

    const std::vector<unsigned char> unit = unitSize == 4 ? makeShortUnit() : makeBlockUnit(9);
    Piece pieces[kMaxPieces];
    frameUnit(unitSize, pieces);
    const Piece &p = pieces[piece];
    QCOMPARE(eventWord(p), event);
    QCOMPARE(bufferLength(p), length);
    QCOMPARE(bytesRecorded(p), recorded);

    unsigned char buffer[kPieceBufferBytes];
    std::memset(buffer, 0xAA, sizeof buffer);
    writeEventBuffer(p, unit.data(), buffer);
    auto word = [&](int at) {
        return uint32_t(buffer[at]) | uint32_t(buffer[at + 1]) << 8 |
               uint32_t(buffer[at + 2]) << 16 | uint32_t(buffer[at + 3]) << 24;
    };
    QCOMPARE(word(0), delta);
    QCOMPARE(word(4), 0u);
    QCOMPARE(word(8), event);
    QVERIFY(std::memcmp(buffer + 12, unit.data() + p.offset, p.length) == 0);
    for (size_t i = 12 + p.length; i < sizeof buffer; ++i)
        QCOMPARE(int(buffer[i]), 0);
}

void TestStreamFraming::scheduleFollowsTheTimingRule_data()
{
    // Each row: a first event at `first`, then one with `delta` handed over at `now`.
    QTest::addColumn<uint32_t>("first");
    QTest::addColumn<uint32_t>("now");
    QTest::addColumn<uint32_t>("delta");
    QTest::addColumn<uint32_t>("due");
    QTest::newRow("in time: 10 ms after") << 1000u << 1100u << 480u << 1480u;
    QTest::newRow("exactly due") << 1000u << 1480u << 480u << 1480u;
    QTest::newRow("late: at once") << 1000u << 2440u << 480u << 2440u;
    QTest::newRow("delta 0: at once") << 1000u << 1200u << 0u << 1200u;
    QTest::newRow("across wrap") << 0xFFFFFF00u << 0xFFFFFF10u << 480u << 0x000001E0u - 0x100u;
    QTest::newRow("late across wrap") << 0xFFFFFF00u << 0x00001000u << 480u << 0x00001000u;
}

void TestStreamFraming::scheduleFollowsTheTimingRule()
{
    QFETCH(uint32_t, first);
    QFETCH(uint32_t, now);
    QFETCH(uint32_t, delta);
    QFETCH(uint32_t, due);
    StreamSchedule schedule;
    QCOMPARE(schedule.due(first, 480), first); // nothing before: at once
    schedule.played(first);
    QCOMPARE(schedule.due(now, delta), due);
    schedule.reset();
    QCOMPARE(schedule.due(now, delta), now);
}

void TestStreamFraming::problemTextsAndTypes_data()
{
    QTest::addColumn<int>("problem");
    QTest::addColumn<unsigned long long>("number");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    auto row = [](const char *name, StreamProblem p, unsigned long long n, RtMidiError::Type t,
                  const char *text) {
        QTest::newRow(name) << int(p) << n << int(t) << QString(text);
    };
    row("already open", StreamProblem::AlreadyOpen, 0, RtMidiError::WARNING,
        "MidiOutWinMM::openStreamPort: a valid connection already exists!");
    row("no devices", StreamProblem::NoDestinations, 0, RtMidiError::NO_DEVICES_FOUND,
        "MidiOutWinMM::openStreamPort: no MIDI output destinations found!");
    row("bad port", StreamProblem::InvalidPort, 4294967295ull, RtMidiError::INVALID_PARAMETER,
        "MidiOutWinMM::openStreamPort: the 'portNumber' argument (4294967295) is invalid.");
    row("no event", StreamProblem::NoCompletionEvent, 0, RtMidiError::NO_DEVICES_FOUND,
        "MidiOutWinMM::openStreamPort: can't creat an event!");
    row("refused", StreamProblem::OpenRefused, 0, RtMidiError::DRIVER_ERROR,
        "MidiOutWinMM::openStreamPort: error creating Windows MM MIDI streaming output port.");
    row("empty", StreamProblem::EmptyUnit, 0, RtMidiError::WARNING,
        "MidiOutWinMM::sendMessage: message argument is empty!");
    row("prepare", StreamProblem::PrepareRefused, 0, RtMidiError::DRIVER_ERROR,
        "MidiOutWinMM::sendStream: error preparing sysex header.");
    row("size", StreamProblem::InvalidSize, 523, RtMidiError::INVALID_PARAMETER,
        "MidiOutWinMM::sendStream: the 'size' argument (523) is invalid: a unit is 4 or 524 "
        "bytes; nothing was sent.");
    row("gone", StreamProblem::DestinationGone, 0, RtMidiError::DRIVER_ERROR,
        "MidiOutWinMM::sendStream: the MIDI destination is gone; the unit was not played.");
    row("timeout", StreamProblem::NotPlayedInTime, 2110, RtMidiError::DRIVER_ERROR,
        "MidiOutWinMM::sendStream: the unit was not reported played within 2110 ms; it may not "
        "have been played.");
}

void TestStreamFraming::problemTextsAndTypes()
{
    QFETCH(int, problem);
    QFETCH(unsigned long long, number);
    QFETCH(int, type);
    QFETCH(QString, message);
    const auto p = static_cast<StreamProblem>(problem);
    QCOMPARE(int(streamProblemType(p)), type);
    QCOMPARE(QString::fromStdString(streamProblemMessage("MidiOutWinMM", p, number)), message);
    // Other backends say the same under their own class name.
    QString jack = message;
    jack.replace(0, 12, "MidiOutJack");
    QCOMPARE(QString::fromStdString(streamProblemMessage("MidiOutJack", p, number)), jack);
}

void TestStreamFraming::reportFollowsRtMidiConvention()
{
    {
        StderrCapture err;
        RtMidiError e =
            errorOf([] { reportStreamProblem("MidiOutJack", StreamProblem::EmptyUnit); });
        QCOMPARE(e.getType(), RtMidiError::UNSPECIFIED); // a warning returns
        QCOMPARE(err.text(),
                 std::string("\nMidiOutJack::sendMessage: message argument is empty!\n\n"));
    }
    StderrCapture err;
    RtMidiError e =
        errorOf([] { reportStreamProblem("MidiOutJack", StreamProblem::PrepareRefused); });
    QCOMPARE(e.getType(), RtMidiError::DRIVER_ERROR);
    QCOMPARE(e.getMessage(), std::string("MidiOutJack::sendStream: error preparing sysex header."));
    QCOMPARE(err.text(), "\n" + e.getMessage() + "\n\n");
}

void TestStreamFraming::sharedStateChecks()
{
    FakeBackend backend;
    FakePorts none(0), two(2);
    StderrCapture err;
    RtMidiError e = errorOf([&] { backend.open(0, "RtMidi Output", none); });
    QCOMPARE(e.getType(), RtMidiError::NO_DEVICES_FOUND);
    e = errorOf([&] { backend.open(2, "RtMidi Output", two); });
    QCOMPARE(e.getType(), RtMidiError::INVALID_PARAMETER);
    QCOMPARE(e.getMessage(),
             std::string("MidiOutFake::openStreamPort: the 'portNumber' argument (2) is invalid."));
    backend.refuseOpen = true;
    e = errorOf([&] { backend.open(1, "RtMidi Output", two); });
    QCOMPARE(e.getType(), RtMidiError::DRIVER_ERROR);
    QVERIFY(!backend.isOpen());
    QCOMPARE(backend.opens, 1);

    backend.refuseOpen = false;
    backend.open(1, "RtMidi Output", two);
    QVERIFY(backend.isOpen());
    backend.open(0, "RtMidi Output", two); // only warns
    QCOMPARE(backend.opens, 2);
    QVERIFY(backend.isOpen());
    backend.close();
    backend.close();
    QCOMPARE(backend.closes, 1);
    QVERIFY(!backend.isOpen());
    const std::vector<unsigned char> unit = makeShortUnit();
    backend.send(unit.data(), unit.size()); // closed: nothing
    QVERIFY(backend.played.empty());
    QVERIFY(err.text().find("a valid connection already exists!") != std::string::npos);
}

void TestStreamFraming::sendHandsOverACopyAndRefusesOtherSizes()
{
    FakeBackend backend;
    FakePorts one(1);
    backend.open(0, "RtMidi Output", one);
    const std::vector<unsigned char> block = makeBlockUnit(5);
    backend.send(block.data(), block.size());
    QCOMPARE(backend.played.size(), size_t{11});
    std::vector<unsigned char> joined;
    for (const auto &piece : backend.played)
        joined.insert(joined.end(), piece.begin(), piece.end());
    QVERIFY(joined == block);
    // The copy's tail beyond the unit is zero, never stale bytes.
    for (size_t i = 524; i < kUnitCopyBytes; ++i)
        QCOMPARE(int(backend.lastCopy[i]), 0);

    backend.played.clear();
    std::vector<unsigned char> big(100000, 0x42);
    StderrCapture err;
    RtMidiError e = errorOf([&] { backend.send(big.data(), big.size()); });
    QCOMPARE(e.getType(), RtMidiError::INVALID_PARAMETER);
    e = errorOf([&] { backend.send(big.data(), 0); });
    QCOMPARE(e.getType(), RtMidiError::UNSPECIFIED);
    QVERIFY(backend.played.empty());
    QVERIFY(backend.isOpen());
}

void TestStreamFraming::apiWithoutStreamingCannotOpen()
{
    StderrCapture err;
    FakePorts one(1);
    auto backend = makeStreamBackend(RtMidi::RTMIDI_DUMMY);
    RtMidiError e = errorOf([&] { backend->open(0, "RtMidi Output", one); });
    QCOMPARE(e.getType(), RtMidiError::DRIVER_ERROR);
    QCOMPARE(e.getMessage(), std::string("StreamMidiOut::openStreamPort: this MIDI API has no "
                                         "streaming output service."));
    QVERIFY(!backend->isOpen());
    // The shared checks still come first.
    FakePorts none(0);
    e = errorOf([&] { backend->open(0, "RtMidi Output", none); });
    QCOMPARE(e.getMessage(),
             std::string("StreamMidiOut::openStreamPort: no MIDI output destinations found!"));
    const std::vector<unsigned char> unit = makeShortUnit();
    backend->send(unit.data(), unit.size());
    backend->close();
    QVERIFY(!backend->isOpen());
}

QTEST_GUILESS_MAIN(TestStreamFraming)
#include "tst_stream_framing.moc"
