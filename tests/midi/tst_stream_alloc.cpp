// Proves that sending through the streaming port allocates nothing on the
// heap, in any thread of the process (the send, the JACK process callback,
// the test's recorder), once the port is open: global operator new is
// replaced in this binary by a counter. Measured over 40 sends of both unit
// sizes on a private JACK server (48 kHz, period 128). Error paths are not
// counted: reporting a failure builds a message string.
#include "jack_midi_recorder.h"
#include "jack_server.h"
#include "stream_test_support.h"

#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void *countedAlloc(size_t size)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
} // namespace

void *operator new(size_t size)
{
    return countedAlloc(size);
}
void *operator new[](size_t size)
{
    return countedAlloc(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    try {
        return countedAlloc(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    try {
        return countedAlloc(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, size_t) noexcept
{
    std::free(p);
}

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
    allocations = 0;
    counting = true;
    auto *p = new std::vector<int>(100);
    counting = false;
    delete p;
    QVERIFY(allocations.load() >= 2);
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

    allocations = 0;
    counting = true;
    for (int i = 0; i < 20; ++i) {
        out.sendStream(request.data(), request.size());
        out.sendStream(block.data(), block.size());
    }
    counting = false;
    const long counted = allocations.load();
    out.closePort();

    QVERIFY(recorder.waitFor(11 + 20 * 12, 500));
    QCOMPARE(recorder.count(), size_t{11 + 20 * 12});
    QCOMPARE(counted, 0L);
}

QTEST_GUILESS_MAIN(TestStreamAlloc)
#include "tst_stream_alloc.moc"
