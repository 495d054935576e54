// Proves the reply decoder: which 4- and 7-byte messages raise the
// acknowledgement or the version flag under which device id, that every other
// length, id, command or missing F7 is dropped without touching a flag or the
// version bytes, that flags already raised stay raised, that a version reply
// writes exactly one debug message "a b c", and that a reader who sees the
// version flag (acquire) also sees that reply's bytes while the callback runs on
// another thread (2000 handshakes; built a second time under ThreadSanitizer as
// tst_reply_callback_tsan).
#include "device_id.h"
#include "reply_callback.h"
#include "reply_flags.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using Bytes = std::vector<unsigned char>;
Q_DECLARE_METATYPE(Bytes)

namespace {

QStringList debugMessages;
std::atomic<int> debugCount{0};
bool recordMessages = true;

void captureMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg)
        return;
    debugCount.fetch_add(1, std::memory_order_relaxed);
    if (recordMessages)
        debugMessages << text;
}

void deliver(Bytes bytes)
{
    replyCallback(0.0, &bytes, nullptr);
}

} // namespace

class TestReplyCallback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void decodes_data();
    void decodes();
    void ignoresNullMessage();
    void flagsStayRaised_data();
    void flagsStayRaised();
    void clearingLowersOnlyItsFlag();
    void fallbackBytesLeaveFlag();
    void versionVisibleWithFlagAcrossThreads();
};

void TestReplyCallback::initTestCase()
{
    qInstallMessageHandler(captureMessages);
}

void TestReplyCallback::init()
{
    clearAcknowledgement();
    clearVersionReceived();
    setVersionBytes(9, 9, 9);
    setDeviceId(kVarnoxDeviceId);
    debugMessages.clear();
}

void TestReplyCallback::decodes_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<Bytes>("message");
    QTest::addColumn<bool>("ack");
    QTest::addColumn<bool>("version");
    QTest::addColumn<Bytes>("bytes"); // version bytes afterwards

    const Bytes untouched{9, 9, 9};
    QTest::newRow("ack, id 3") << 3 << Bytes{0xF0, 0x03, 0x05, 0xF7} << true << false << untouched;
    QTest::newRow("ack, id 2") << 2 << Bytes{0xF0, 0x02, 0x05, 0xF7} << true << false << untouched;
    QTest::newRow("ack for 3 while id 2")
        << 2 << Bytes{0xF0, 0x03, 0x05, 0xF7} << false << false << untouched;
    QTest::newRow("ack 5 bytes") << 3 << Bytes{0xF0, 0x03, 0x05, 0x00, 0xF7} << false << false
                                 << untouched;
    QTest::newRow("ack 3 bytes") << 3 << Bytes{0xF0, 0x03, 0x05} << false << false << untouched;
    QTest::newRow("ack no F0") << 3 << Bytes{0xF1, 0x03, 0x05, 0xF7} << false << false << untouched;
    QTest::newRow("ack no F7") << 3 << Bytes{0xF0, 0x03, 0x05, 0x00} << false << false << untouched;
    QTest::newRow("request shape")
        << 3 << Bytes{0xF0, 0x03, 0x15, 0xF7} << false << false << untouched;
    QTest::newRow("data command") << 3 << Bytes{0xF0, 0x03, 0x01, 0xF7} << false << false
                                  << untouched;

    QTest::newRow("version, id 3")
        << 3 << Bytes{0xF0, 0x03, 0x15, 0x01, 0x02, 0x03, 0xF7} << false << true << Bytes{1, 2, 3};
    QTest::newRow("version 2.1.7, id 2")
        << 2 << Bytes{0xF0, 0x02, 0x15, 0x02, 0x01, 0x07, 0xF7} << false << true << Bytes{2, 1, 7};
    QTest::newRow("version bytes not checked")
        << 3 << Bytes{0xF0, 0x03, 0x15, 0x00, 0x7F, 0xF7, 0xF7} << false << true
        << Bytes{0, 0x7F, 0xF7};
    QTest::newRow("version for 2 while id 3")
        << 3 << Bytes{0xF0, 0x02, 0x15, 0x02, 0x01, 0x07, 0xF7} << false << false << untouched;
    QTest::newRow("version no F7")
        << 3 << Bytes{0xF0, 0x03, 0x15, 0x01, 0x02, 0x03, 0x00} << false << false << untouched;
    QTest::newRow("version no F0")
        << 3 << Bytes{0x00, 0x03, 0x15, 0x01, 0x02, 0x03, 0xF7} << false << false << untouched;
    QTest::newRow("ack command in 7 bytes")
        << 3 << Bytes{0xF0, 0x03, 0x05, 0x01, 0x02, 0x03, 0xF7} << false << false << untouched;
    QTest::newRow("version 6 bytes")
        << 3 << Bytes{0xF0, 0x03, 0x15, 0x01, 0x02, 0xF7} << false << false << untouched;
    QTest::newRow("version 8 bytes") << 3 << Bytes{0xF0, 0x03, 0x15, 0x01, 0x02, 0x03, 0x04, 0xF7}
                                     << false << false << untouched;
    QTest::newRow("empty") << 3 << Bytes{} << false << false << untouched;
    QTest::newRow("one byte") << 3 << Bytes{0xF7} << false << false << untouched;
    Bytes block(524, 0x00);
    block[0] = 0xF0, block[1] = 0x03, block[2] = 0x01, block[520] = 0xF7;
    QTest::newRow("data block echoed") << 3 << block << false << false << untouched;
}

void TestReplyCallback::decodes()
{
    QFETCH(int, id);
    QFETCH(Bytes, message);
    QFETCH(bool, ack);
    QFETCH(bool, version);
    QFETCH(Bytes, bytes);
    setDeviceId(id);
    deliver(message);
    QCOMPARE(acknowledgementReceived(), ack);
    QCOMPARE(versionReceived(), version);
    const auto stored = versionBytes();
    QCOMPARE(Bytes(stored.begin(), stored.end()), bytes);
    if (version)
        QCOMPARE(debugMessages,
                 QStringList(QString("%1 %2 %3").arg(bytes[0]).arg(bytes[1]).arg(bytes[2])));
    else
        QVERIFY2(debugMessages.isEmpty(), qPrintable(debugMessages.join('|')));
}

void TestReplyCallback::ignoresNullMessage()
{
    replyCallback(1.5, nullptr, nullptr);
    QVERIFY(!acknowledgementReceived());
    QVERIFY(!versionReceived());
}

void TestReplyCallback::flagsStayRaised_data()
{
    QTest::addColumn<Bytes>("message");
    QTest::newRow("ack again") << Bytes{0xF0, 0x03, 0x05, 0xF7};
    QTest::newRow("version again") << Bytes{0xF0, 0x03, 0x15, 0x04, 0x05, 0x06, 0xF7};
    QTest::newRow("other id") << Bytes{0xF0, 0x02, 0x05, 0xF7};
    QTest::newRow("garbage") << Bytes{0x90, 0x40, 0x7F};
    QTest::newRow("request shape") << Bytes{0xF0, 0x03, 0x15, 0xF7};
}

void TestReplyCallback::flagsStayRaised()
{
    QFETCH(Bytes, message);
    deliver({0xF0, 0x03, 0x05, 0xF7});
    deliver({0xF0, 0x03, 0x15, 0x01, 0x02, 0x03, 0xF7});
    QVERIFY(acknowledgementReceived());
    QVERIFY(versionReceived());
    deliver(message);
    QVERIFY(acknowledgementReceived());
    QVERIFY(versionReceived());
}

void TestReplyCallback::clearingLowersOnlyItsFlag()
{
    deliver({0xF0, 0x03, 0x05, 0xF7});
    deliver({0xF0, 0x03, 0x15, 0x01, 0x02, 0x03, 0xF7});
    clearAcknowledgement();
    QVERIFY(!acknowledgementReceived());
    QVERIFY(versionReceived());
    deliver({0xF0, 0x03, 0x05, 0xF7});
    clearVersionReceived();
    QVERIFY(acknowledgementReceived());
    QVERIFY(!versionReceived());
    // Clearing the flag keeps the bytes of the last reply.
    const auto bytes = versionBytes();
    QCOMPARE(Bytes(bytes.begin(), bytes.end()), (Bytes{1, 2, 3}));
}

void TestReplyCallback::fallbackBytesLeaveFlag()
{
    setVersionBytes(1, 0, 0);
    QVERIFY(!versionReceived());
    const auto bytes = versionBytes();
    QCOMPARE(Bytes(bytes.begin(), bytes.end()), (Bytes{1, 0, 0}));
}

void TestReplyCallback::versionVisibleWithFlagAcrossThreads()
{
    // The GUI side clears the flag and asks for reply x; the input side answers
    // with x x+1 x+2. Whoever sees the flag must see that reply's bytes.
    constexpr int rounds = 2000;
    std::atomic<int> requested{0};
    std::atomic<bool> quit{false};
    recordMessages = false;
    debugCount.store(0);
    std::thread input([&] {
        int answered = 0;
        while (!quit.load(std::memory_order_acquire)) {
            const int x = requested.load(std::memory_order_acquire);
            if (x == answered) {
                std::this_thread::yield();
                continue;
            }
            answered = x;
            const auto v = static_cast<unsigned char>(x % 100);
            Bytes reply{0xF0,
                        0x03,
                        0x15,
                        v,
                        static_cast<unsigned char>(v + 1),
                        static_cast<unsigned char>(v + 2),
                        0xF7};
            replyCallback(0.0, &reply, nullptr);
        }
    });
    int mismatches = 0;
    for (int x = 1; x <= rounds; ++x) {
        clearVersionReceived();
        requested.store(x, std::memory_order_release);
        while (!versionReceived())
            std::this_thread::yield();
        const auto bytes = versionBytes();
        const int v = x % 100;
        if (bytes[0] != v || bytes[1] != v + 1 || bytes[2] != v + 2)
            ++mismatches;
    }
    quit.store(true, std::memory_order_release);
    input.join();
    recordMessages = true;
    QCOMPARE(mismatches, 0);
    QCOMPARE(debugCount.load(), rounds);
}

QTEST_GUILESS_MAIN(TestReplyCallback)
#include "tst_reply_callback.moc"
