// Proves the simulated instrument's logic without JACK: data block messages
// cut into pieces in six ways (whole, 48x10+44, byte by byte, padding apart,
// random cuts, version request split) come out as the same decoded blocks;
// each framing error is reported by its own code and the instrument recovers
// at the next F0; the block sequence and count are enforced per upload; the
// replies carry the right id and bytes in every fault mode, at the right frame
// offset with a delay; the block limit stops it; 20000 random events do not
// break it; and the command line is parsed or refused. Limits measured: images
// of 1..3 blocks, delays of 0 and 4800 frames, 128-frame cycles.
#include "messages.h"
#include "sim_device.h"
#include "sim_options.h"

#include <QtTest>

#include <random>
#include <vector>

using Bytes = std::vector<unsigned char>;
using Events = std::vector<Bytes>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Events)
Q_DECLARE_METATYPE(FramingError)

namespace {

struct Collector : SimSink
{
    void report(const SimReport &r) override { reports.push_back(r); }
    int count(SimReport::Kind kind) const
    {
        int n = 0;
        for (const SimReport &r : reports)
            n += r.kind == kind;
        return n;
    }
    std::vector<FramingError> errors() const
    {
        std::vector<FramingError> out;
        for (const SimReport &r : reports)
            if (r.kind == SimReport::Error)
                out.push_back(r.error);
        return out;
    }
    std::vector<SimReport> reports;
};

struct Sent
{
    std::uint32_t offset;
    Bytes bytes;
};

// Runs one cycle's worth of reply output and returns what was written.
std::vector<Sent> emitReplies(SimDevice &device, Collector &sink, std::uint32_t cycleStart,
                              std::uint32_t nframes = 128)
{
    std::vector<Sent> out;
    device.emitDue(
        cycleStart, nframes,
        [&out](std::uint32_t offset, const unsigned char *b, std::size_t n) {
            out.push_back({offset, Bytes(b, b + n)});
            return true;
        },
        sink);
    return out;
}

Bytes image(std::size_t size)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>((i * 131 + 7) ^ (i >> 8));
    return out;
}

// The messages an upload of the image sends, built the way the uploader does.
Events uploadMessages(const Bytes &img, int id = 0x03, unsigned countOverride = 0)
{
    Events out;
    DataBlockBuffer buffer{};
    const unsigned count = countOverride ? countOverride : blockCountForSize(qint64(img.size()));
    for (unsigned i = 1; (i - 1) * 256 < img.size(); ++i) {
        const std::size_t from = (i - 1) * 256;
        const std::size_t n = std::min<std::size_t>(256, img.size() - from);
        buildDataBlockMessage(buffer, id, i, count, img.data() + from, n);
        out.emplace_back(buffer.begin(), buffer.end());
    }
    return out;
}

Events cut(const Bytes &message, const std::vector<std::size_t> &sizes)
{
    Events out;
    std::size_t at = 0;
    for (std::size_t s : sizes) {
        out.emplace_back(message.begin() + std::ptrdiff_t(at),
                         message.begin() + std::ptrdiff_t(at + s));
        at += s;
    }
    if (at < message.size())
        out.emplace_back(message.begin() + std::ptrdiff_t(at), message.end());
    return out;
}

void feed(SimDevice &device, Collector &sink, const Events &events, std::uint32_t frame = 0)
{
    for (const Bytes &e : events)
        device.receive(frame++, e.data(), e.size(), sink);
}

const Bytes kVersionRequest{0xF0, 0x03, 0x15, 0xF7};

} // namespace

class TestSimCore : public QObject
{
    Q_OBJECT

private slots:
    void cuttings_data();
    void cuttings();
    void framingErrors_data();
    void framingErrors();
    void sequence_data();
    void sequence();
    void replies_data();
    void replies();
    void delayedReplyLandsAtItsFrame();
    void fullPortBufferKeepsReply();
    void blockLimitUnplugs();
    void randomEventsDoNotBreakIt();
    void options_data();
    void options();
};

void TestSimCore::cuttings_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("whole") << "whole";
    QTest::newRow("48x10+44") << "stream";
    QTest::newRow("byte by byte") << "bytes";
    QTest::newRow("padding apart") << "padding";
    QTest::newRow("random cuts") << "random";
    QTest::newRow("request split") << "request";
}

void TestSimCore::cuttings()
{
    QFETCH(QString, how);
    const Bytes img = image(600); // 3 blocks, the last short with stale pairs
    const Events messages = uploadMessages(img);
    std::mt19937 rng(42);
    Events events;
    if (how == "request")
        events = cut(kVersionRequest, {1, 2});
    for (const Bytes &m : messages) {
        Events pieces;
        if (how == "whole" || how == "request") {
            pieces = {m};
        } else if (how == "stream") {
            pieces = cut(m, std::vector<std::size_t>(10, 48));
        } else if (how == "bytes") {
            pieces = cut(m, std::vector<std::size_t>(524, 1));
        } else if (how == "padding") {
            pieces = cut(m, {521});
        } else {
            std::vector<std::size_t> sizes;
            std::size_t left = m.size();
            while (left > 0) {
                const std::size_t s = std::min<std::size_t>(left, 1 + rng() % 100);
                sizes.push_back(s);
                left -= s;
            }
            pieces = cut(m, sizes);
        }
        events.insert(events.end(), pieces.begin(), pieces.end());
    }

    SimDevice device(SimConfig{});
    Collector sink;
    feed(device, sink, events);
    QCOMPARE(sink.errors(), std::vector<FramingError>{});
    QCOMPARE(sink.count(SimReport::Piece), int(events.size()));
    QCOMPARE(sink.count(SimReport::Block), 3);
    QCOMPARE(sink.count(SimReport::VersionRequest), how == "request" ? 1 : 0);

    // Block 3 carries bytes 512..599, then the pairs block 2 left behind.
    Bytes expected(img);
    expected.insert(expected.end(), img.begin() + 256 + 88, img.begin() + 512);
    Bytes decoded;
    unsigned number = 0;
    for (const SimReport &r : sink.reports) {
        if (r.kind != SimReport::Block)
            continue;
        QCOMPARE(r.a, ++number);
        QCOMPARE(r.b, 3u);
        decoded.insert(decoded.end(), r.data, r.data + 256);
    }
    QCOMPARE(decoded, expected);

    const std::vector<Sent> sent = emitReplies(device, sink, 0, 100000);
    QCOMPARE(sent.size(), std::size_t(how == "request" ? 2 : 1));
    QCOMPARE(sent.back().bytes, (Bytes{0xF0, 0x03, 0x05, 0xF7}));
}

void TestSimCore::framingErrors_data()
{
    QTest::addColumn<Events>("events");
    QTest::addColumn<FramingError>("error");
    QTest::addColumn<int>("blocks"); // padding comes after the F7: the block itself is fine

    const Bytes block = uploadMessages(image(256)).front();
    auto changed = [&block](std::size_t offset, unsigned char value) {
        Bytes b = block;
        b[offset] = value;
        return b;
    };
    QTest::newRow("byte above 0x7F")
        << Events{changed(100, 0x90)} << FramingError::ByteAbove7F << 0;
    QTest::newRow("offset 7 not 1") << Events{changed(7, 0x02)} << FramingError::BadConstant << 0;
    QTest::newRow("pair top bit 2") << Events{changed(8, 0x02)} << FramingError::BadPair << 0;
    QTest::newRow("block number 0")
        << Events{changed(4, 0x00)} << FramingError::BlockNumberZero << 0;
    QTest::newRow("number above count")
        << Events{changed(4, 0x02)} << FramingError::BlockBeyondCount << 0;
    QTest::newRow("padding not zero")
        << Events{changed(522, 0x05)} << FramingError::PaddingNotZero << 1;
    QTest::newRow("padding missing")
        << Events{Bytes(block.begin(), block.begin() + 521)} << FramingError::PaddingMissing << 1;
    Bytes shortBlock(block.begin(), block.begin() + 301);
    shortBlock.back() = 0xF7;
    QTest::newRow("F7 too early") << Events{shortBlock} << FramingError::BadLength << 0;
    Bytes longBlock = block;
    longBlock[520] = 0x00;
    QTest::newRow("no F7 at 520") << Events{longBlock} << FramingError::MessageTooLong << 0;
    QTest::newRow("F0 inside message") << Events{Bytes(block.begin(), block.begin() + 100)}
                                       << FramingError::StartInsideMessage << 0;
    QTest::newRow("stray bytes") << Events{Bytes{0x00, 0x12, 0x34}} << FramingError::StrayBytes
                                 << 0;
    QTest::newRow("request 5 bytes")
        << Events{Bytes{0xF0, 0x03, 0x15, 0x00, 0xF7}} << FramingError::BadLength << 0;
    QTest::newRow("unknown command")
        << Events{Bytes{0xF0, 0x03, 0x22, 0xF7}} << FramingError::UnknownCommand << 0;
    QTest::newRow("F0 F7") << Events{Bytes{0xF0, 0xF7}} << FramingError::TooShort << 0;
    QTest::newRow("block 2 first")
        << Events{changed(4, 0x02)} << FramingError::BlockBeyondCount << 0;
}

void TestSimCore::framingErrors()
{
    QFETCH(Events, events);
    QFETCH(FramingError, error);
    QFETCH(int, blocks);
    SimDevice device(SimConfig{});
    Collector sink;
    feed(device, sink, events);
    // A version request afterwards proves the instrument caught up again.
    feed(device, sink, {kVersionRequest}, 100);
    const std::vector<FramingError> errors = sink.errors();
    QVERIFY2(!errors.empty(), "no error reported");
    QCOMPARE(errors.front(), error);
    QCOMPARE(sink.count(SimReport::Block), blocks);
    QCOMPARE(sink.count(SimReport::VersionRequest), 1);
    // A rejected block is never acknowledged.
    const std::vector<Sent> sent = emitReplies(device, sink, 0, 100000);
    QCOMPARE(sent.size(), std::size_t(1 + blocks));
    QCOMPARE(sent.back().bytes, (Bytes{0xF0, 0x03, 0x15, 2, 1, 7, 0xF7}));
}

void TestSimCore::sequence_data()
{
    QTest::addColumn<QString>("plan"); // number/count per block, in the order sent
    QTest::addColumn<int>("valid");
    QTest::addColumn<int>("acks");
    QTest::addColumn<QString>("errors");
    QTest::newRow("in order") << "1/3 2/3 3/3" << 3 << 1 << "";
    QTest::newRow("gap") << "1/3 3/3" << 1 << 1 << "out";
    QTest::newRow("repeat") << "1/3 2/3 2/3 3/3" << 3 << 1 << "out";
    QTest::newRow("count changes") << "1/3 2/4 3/3" << 2 << 1 << "count";
    QTest::newRow("no block 1") << "2/3 3/3" << 0 << 0 << "out out";
    QTest::newRow("second upload") << "1/2 2/2 1/2 2/2" << 4 << 2 << "";
    QTest::newRow("restart mid upload") << "1/3 2/3 1/2 2/2" << 4 << 2 << "";
}

void TestSimCore::sequence()
{
    QFETCH(QString, plan);
    QFETCH(int, valid);
    QFETCH(int, acks);
    QFETCH(QString, errors);
    SimDevice device(SimConfig{});
    Collector sink;
    DataBlockBuffer buffer{};
    const Bytes data = image(256);
    std::uint32_t frame = 0;
    for (const QString &step : plan.split(' ')) {
        const QStringList nc = step.split('/');
        buildDataBlockMessage(buffer, 0x03, nc[0].toUInt(), nc[1].toUInt(), data.data(), 256);
        device.receive(frame++, buffer.data(), buffer.size(), sink);
    }
    QCOMPARE(sink.count(SimReport::Block), valid);
    QStringList got;
    for (FramingError e : sink.errors())
        got << (e == FramingError::OutOfSequence  ? "out"
                : e == FramingError::CountChanged ? "count"
                                                  : framingErrorText(e));
    QCOMPARE(got.join(' '), errors);
    QCOMPARE(int(emitReplies(device, sink, 0, 100000).size()), acks);
}

void TestSimCore::replies_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("replyId");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<Events>("expected"); // over two requests and one block 1

    const Bytes req3{0xF0, 0x03, 0x15, 0xF7};
    const Bytes req2{0xF0, 0x02, 0x15, 0xF7};
    const Bytes v3{0xF0, 0x03, 0x15, 2, 1, 7, 0xF7};
    const Bytes a3{0xF0, 0x03, 0x05, 0xF7};
    const Bytes v2{0xF0, 0x02, 0x15, 2, 1, 7, 0xF7};
    const Bytes a2{0xF0, 0x02, 0x05, 0xF7};
    QTest::newRow("Varnox") << "Varnox" << -1 << "" << req3 << Events{v3, v3, a3};
    QTest::newRow("Solune") << "Solune" << -1 << "" << req2 << Events{v2, v2, a2};
    QTest::newRow("Varnox asked as Solune") << "Varnox" << -1 << "" << req2 << Events{a3};
    QTest::newRow("reply id 2") << "Varnox" << 2 << "" << req3 << Events{v2, v2, a2};
    QTest::newRow("no version") << "Varnox" << -1 << "noversion" << req3 << Events{a3};
    QTest::newRow("no ack") << "Varnox" << -1 << "noack" << req3 << Events{v3, v3};
    QTest::newRow("malformed first")
        << "Varnox" << -1 << "malformed" << req3
        << Events{{0xF0, 0x03, 0x15, 2, 1, 0xF7}, v3, v3, {0xF0, 0x03, 0x05, 0x00, 0xF7}, a3};
}

void TestSimCore::replies()
{
    QFETCH(QString, model);
    QFETCH(int, replyId);
    QFETCH(QString, faults);
    QFETCH(Bytes, request);
    QFETCH(Events, expected);
    SimConfig config;
    config.deviceId = model == "Varnox" ? 0x03 : 0x02;
    config.replyId = static_cast<unsigned char>(replyId >= 0 ? replyId : config.deviceId);
    config.noVersion = faults == "noversion";
    config.noAck = faults == "noack";
    config.malformedFirst = faults == "malformed";
    SimDevice device(config);
    Collector sink;
    Bytes block = uploadMessages(image(10), config.deviceId).front();
    feed(device, sink, {request, request, block});
    Events got;
    for (const Sent &s : emitReplies(device, sink, 0, 100000))
        got.push_back(s.bytes);
    QCOMPARE(got, expected);
    QCOMPARE(sink.count(SimReport::ReplySent), int(expected.size()));
    QCOMPARE(sink.count(SimReport::Ignored), request[1] == config.deviceId ? 0 : 2);
}

void TestSimCore::delayedReplyLandsAtItsFrame()
{
    SimConfig config;
    config.delayFrames = 4800; // 100 ms at 48 kHz
    SimDevice device(config);
    Collector sink;
    device.receive(1000, kVersionRequest.data(), kVersionRequest.size(), sink);
    std::uint32_t cycle = 896; // 7 x 128
    std::vector<Sent> sent;
    while (sent.empty() && cycle < 20000) {
        sent = emitReplies(device, sink, cycle);
        cycle += 128;
    }
    QCOMPARE(sent.size(), std::size_t(1));
    QCOMPARE(cycle - 128 + sent[0].offset, 5800u);

    // Without a delay a reply that is already due goes out at offset 0.
    SimDevice prompt{SimConfig{}};
    prompt.receive(1000, kVersionRequest.data(), kVersionRequest.size(), sink);
    const std::vector<Sent> late = emitReplies(prompt, sink, 1024);
    QCOMPARE(late.size(), std::size_t(1));
    QCOMPARE(late[0].offset, 0u);
}

void TestSimCore::fullPortBufferKeepsReply()
{
    SimDevice device{SimConfig{}};
    Collector sink;
    device.receive(0, kVersionRequest.data(), kVersionRequest.size(), sink);
    device.emitDue(
        0, 128, [](std::uint32_t, const unsigned char *, std::size_t) { return false; }, sink);
    QCOMPARE(sink.count(SimReport::ReplySent), 0);
    QCOMPARE(device.pendingReplies(), std::size_t(1));
    QCOMPARE(emitReplies(device, sink, 128).size(), std::size_t(1));
    QCOMPARE(device.pendingReplies(), std::size_t(0));
}

void TestSimCore::blockLimitUnplugs()
{
    SimConfig config;
    config.exitAfterBlock = 2;
    SimDevice device(config);
    Collector sink;
    const Events messages = uploadMessages(image(1000));
    feed(device, sink, messages);
    QVERIFY(device.unplugged());
    QCOMPARE(sink.count(SimReport::Block), 2);
    QCOMPARE(sink.count(SimReport::Unplugged), 1);
    // Blocks 3 and 4 were not looked at; the acknowledgement still goes out.
    QCOMPARE(sink.count(SimReport::Message), 2);
    QCOMPARE(emitReplies(device, sink, 0, 100000).size(), std::size_t(1));
}

void TestSimCore::randomEventsDoNotBreakIt()
{
    std::mt19937 rng(1234);
    const unsigned char likely[] = {0xF0, 0xF7, 0x00, 0x03, 0x01, 0x15, 0x05, 0x80, 0x7F};
    SimDevice device{SimConfig{}};
    Collector sink;
    for (int i = 0; i < 20000; ++i) {
        Bytes event(1 + rng() % 600);
        for (unsigned char &b : event)
            b = rng() % 3 ? likely[rng() % sizeof likely] : static_cast<unsigned char>(rng());
        device.receive(std::uint32_t(i), event.data(), event.size(), sink);
        if (sink.reports.size() > 100000)
            sink.reports.clear();
        emitReplies(device, sink, std::uint32_t(i), 1);
    }
    sink.reports.clear();
    // Whatever state the garbage left, a fresh upload is understood.
    feed(device, sink, uploadMessages(image(512)), 30000);
    QCOMPARE(sink.count(SimReport::Block), 2);
}

void TestSimCore::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("check");
    QTest::newRow("defaults") << QStringList{} << true << "Varnox 1"
                              << "version=2.1.7";
    QTest::newRow("Solune 3") << QStringList{"--model", "Solune", "--number", "3"} << true
                              << "Solune 3"
                              << "";
    QTest::newRow("with =") << QStringList{"--model=Solune", "--version=1.2.3"} << true
                            << "Solune 1"
                            << "version=1.2.3";
    QTest::newRow("faults")
        << QStringList{"--no-version", "--no-ack", "--malformed-first",  "--reply-id", "0x02",
                       "--delay-ms",   "250",      "--exit-after-block", "4"}
        << true << "Varnox 1"
        << "faults";
    QTest::newRow("lower-case model") << QStringList{"--model", "varnox"} << false << ""
                                      << "";
    QTest::newRow("version above 127") << QStringList{"--version", "2.128.0"} << false << ""
                                       << "";
    QTest::newRow("version two parts") << QStringList{"--version", "2.1"} << false << ""
                                       << "";
    QTest::newRow("version sign") << QStringList{"--version", "2.+1.0"} << false << ""
                                  << "";
    QTest::newRow("number 0") << QStringList{"--number", "0"} << false << ""
                              << "";
    QTest::newRow("number text") << QStringList{"--number", "two"} << false << ""
                                 << "";
    QTest::newRow("reply id 128") << QStringList{"--reply-id", "128"} << false << ""
                                  << "";
    QTest::newRow("negative delay") << QStringList{"--delay-ms", "-1"} << false << ""
                                    << "";
    QTest::newRow("block 0") << QStringList{"--exit-after-block", "0"} << false << ""
                             << "";
    QTest::newRow("missing value") << QStringList{"--summary"} << false << ""
                                   << "";
    QTest::newRow("flag with value") << QStringList{"--no-ack=1"} << false << ""
                                     << "";
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << false << ""
                             << "";
}

void TestSimCore::options()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    QFETCH(QString, client);
    QFETCH(QString, check);
    std::vector<std::string> argv;
    for (const QString &a : args)
        argv.push_back(a.toStdString());
    SimOptions options;
    std::string error;
    QCOMPARE(parseSimOptions(argv, options, error), ok);
    QCOMPARE(error.empty(), ok);
    if (!ok)
        return;
    QCOMPARE(QString::fromStdString(options.clientName()), client);
    if (check.startsWith("version=")) {
        const QString v = QString("%1.%2.%3")
                              .arg(options.version[0])
                              .arg(options.version[1])
                              .arg(options.version[2]);
        QCOMPARE(v, check.mid(8));
    } else if (check == "faults") {
        QVERIFY(options.noVersion && options.noAck && options.malformedFirst);
        QCOMPARE(options.replyId, 2);
        QCOMPARE(options.delayMs, 250);
        QCOMPARE(options.exitAfterBlock, 4u);
    }
}

QTEST_GUILESS_MAIN(TestSimCore)
#include "tst_sim_core.moc"
