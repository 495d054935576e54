// Proves the streaming output port on the kernel's ALSA sequencer (the test
// runs inside a QEMU guest, see scripts/guest-run), with arecordmidi as the
// independent witness, recording everything the port sends at 40 us a tick.
// Shown: the bytes of every unit arrive in order and whole, the three zero
// bytes after F7 included; the pieces of a unit are 10 ms apart within 0.1 ms
// (and the recorder's tick), the first gap included, also after the pauses the
// upload makes; a send lasts the unit's play time and no longer.
// What a lost instrument does to a send is shown by the window's rows, which
// run on the sequencer too.
#include "midi_system.h"
#include "sequencer_witness.h"
#include "stream_midi_out.h"
#include "units.h"

#include <QtTest>

#include <chrono>

namespace {

// A piece of 48 bytes (the last 44) as the port sends it, unchanged.
Unit pieceOf(const Unit &unit, int k)
{
    const auto from = unit.begin() + 48 * k;
    return Unit(from, std::min(from + 48, unit.end()));
}

} // namespace

class TestAlsa : public QObject
{
    Q_OBJECT

private slots:
    void playsUnitsOnTheBeat_data();
    void playsUnitsOnTheBeat();
};

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
    QCOMPARE(MidiSystem::selected(), MidiSystemKind::Alsa);
    auto system = MidiSystem::create();
    QVERIFY(system->startServer());
    QVERIFY2(system->startInstrument(), qPrintable(system->instrument().log()));
    StreamMidiOut out(RtMidi::LINUX_ALSA, "Tarnwick Test");
    for (unsigned i = 0; i < out.getPortCount() && !out.isPortOpen(); ++i)
        if (QString::fromStdString(out.getPortName(i)).startsWith("Varnox 1:Varnox 1 MIDI 1 "))
            out.openStreamPort(i);
    QVERIFY2(out.isPortOpen(), "the sequencer does not list the instrument's port");
    QTemporaryDir dir;
    SequencerWitness witness;
    QVERIFY2(witness.start("Tarnwick Updater:0", dir.path()), "arecordmidi did not subscribe");

    std::vector<Unit> units;
    std::vector<int> pieces;
    for (int i = 0; i < pausesMs.size(); ++i) {
        const bool request = pausesMs[i] < 0;
        units.push_back(request ? kRequest : blockUnit(unsigned(i)));
        pieces.push_back(request ? 1 : 11);
        QThread::msleep(unsigned(qMax(0, pausesMs[i])));
        const auto start = std::chrono::steady_clock::now();
        out.sendStream(units.back().data(), units.back().size());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        // Ten gaps of 10 ms, after a start at most two ticks (4 ms) away.
        QVERIFY2(request || (took >= 100 && took <= 100 + 4 + 20),
                 qPrintable(QString("a block send took %1 ms").arg(took)));
    }
    // 10 ms within a tick of the recorder either way: 250 +- 3 ticks.
    const QString difference = witness.compare(units, pieces, pieceOf, 247, 253);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

QTEST_GUILESS_MAIN(TestAlsa)
#include "tst_alsa.moc"
