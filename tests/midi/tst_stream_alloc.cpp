// Proves that sending through the streaming port allocates nothing on the
// heap, in any thread of the process (the send, the JACK process callback,
// the test's recorder), once the port is open: global operator new is
// replaced in this binary by a counter. Measured over 40 sends of both unit
// sizes on a private JACK server (48 kHz, period 128). Error paths are not
// counted: reporting a failure builds a message string.
#include "allocation_counter.h"
#include "jack_midi_recorder.h"
#include "jack_server.h"
#include "stream_test_support.h"

#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>

class TestStreamAlloc : public QObject
{
    Q_OBJECT

private slots:
    void counterSeesAllocations();
    void sendsAllocateNothing();
};

// Guards the measurement itself: a counter that never counts proves nothing.
void TestStreamAlloc::counterSeesAllocations()
{
    // Kept in a volatile so the compiler cannot leave the allocations out.
    static std::vector<int> *volatile sink = nullptr;
    startCountingAllocations();
    sink = new std::vector<int>(100);
    const long counted = stopCountingAllocations();
    delete sink;
    QVERIFY(counted >= 2);
}

void TestStreamAlloc::sendsAllocateNothing()
{
    JackServer server;
    QVERIFY(server.start());
    JackMidiRecorder recorder;
    QVERIFY(recorder.open("Varnox Recorder"));
    StreamMidiOut out(RtMidi::UNIX_JACK, "RtMidi Output Client");
    const int index = outputIndexOf(out, "Varnox Recorder:in");
    QVERIFY(index >= 0);
    out.openStreamPort(static_cast<unsigned>(index), "RtMidi Output");

    const std::vector<unsigned char> request = makeShortUnit();
    const std::vector<unsigned char> block = makeBlockUnit(3);
    out.sendStream(block.data(), block.size()); // warm-up outside the count

    startCountingAllocations();
    for (int i = 0; i < 20; ++i) {
        out.sendStream(request.data(), request.size());
        out.sendStream(block.data(), block.size());
    }
    const long counted = stopCountingAllocations();
    out.closePort();

    QVERIFY(recorder.waitFor(11 + 20 * 12, 500));
    QCOMPARE(recorder.count(), size_t{11 + 20 * 12});
    QCOMPARE(counted, 0L);
}

QTEST_GUILESS_MAIN(TestStreamAlloc)
#include "tst_stream_alloc.moc"
