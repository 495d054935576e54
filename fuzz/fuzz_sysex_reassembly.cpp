// The simulated instrument's reassembly and block checks fed arbitrary piece
// sequences, as the raw MIDI events of a JACK cycle would bring them.
//
// Input: byte 0 configures the instrument (bit 0: id 0x03, else 0x02; bit 1:
// one malformed reply before the first of each kind). Then pieces, each a
// length byte (0..200) and that many bytes. After the pieces, a fresh valid
// two-block upload is fed.
//
// Properties:
// - cutting does not matter: the same bytes fed as one event give the same
//   messages, blocks, errors and ignored messages;
// - every accepted block has 1 <= number <= count <= 16383 and its 256 decoded
//   bytes, encoded again, are a data block message that was in the input;
// - every message reported is F0..F7 framed, 2 to 521 bytes long;
// - the replies match the requests: one version reply per version request, one
//   acknowledgement per accepted block 1, with exact bytes, plus at most one
//   malformed reply of each kind before the first;
// - whatever the garbage left behind, the fresh upload's two blocks are taken.
// Pieces are at most 200 bytes so that the replies of one piece (at most 50
// version requests) fit the 64-entry reply queue drained after each piece.
#include "fuzz_check.h"
#include "messages.h"
#include "sim_device.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Collector : SimSink
{
    void report(const SimReport &r) override { reports.push_back(r); }
    std::vector<SimReport> reports;
};

struct Replies
{
    unsigned version = 0;
    unsigned ack = 0;
    unsigned malformedVersion = 0;
    unsigned malformedAck = 0;
};

bool sameReport(const SimReport &x, const SimReport &y)
{
    return x.kind == y.kind && x.error == y.error && x.size == y.size && x.a == y.a && x.b == y.b &&
           std::memcmp(x.data, y.data, sizeof x.data) == 0;
}

// Reports that describe the byte stream, not the events it came in.
std::vector<SimReport> streamReports(const std::vector<SimReport> &all)
{
    std::vector<SimReport> out;
    for (const SimReport &r : all)
        if (r.kind != SimReport::Piece && r.kind != SimReport::ReplySent)
            out.push_back(r);
    return out;
}

void drainReplies(SimDevice &device, Collector &sink, std::uint32_t frame, unsigned char id,
                  Replies &replies)
{
    device.emitDue(
        frame, 1,
        [&](std::uint32_t, const unsigned char *b, std::size_t n) {
            const bool framed = n >= 4 && b[0] == 0xF0 && b[1] == id && b[n - 1] == 0xF7;
            FUZZ_CHECK(framed);
            if (n == 7 && b[2] == 0x15 && b[3] == 2 && b[4] == 1 && b[5] == 7)
                ++replies.version;
            else if (n == 4 && b[2] == 0x05)
                ++replies.ack;
            else if (n == 6 && b[2] == 0x15)
                ++replies.malformedVersion;
            else if (n == 5 && b[2] == 0x05 && b[3] == 0x00)
                ++replies.malformedAck;
            else
                FUZZ_CHECK(!"a reply of no known shape");
            return true;
        },
        sink);
    FUZZ_CHECK(device.pendingReplies() == 0);
}

Bytes dataBlock(unsigned char id, unsigned number, unsigned count, unsigned char fill)
{
    unsigned char data[256];
    for (unsigned k = 0; k < 256; ++k)
        data[k] = static_cast<unsigned char>(fill + k * 7);
    DataBlockBuffer buffer{};
    buildDataBlockMessage(buffer, id, number, count, data, 256);
    return Bytes(buffer.begin(), buffer.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    SimConfig config;
    config.deviceId = config.replyId = (data[0] & 1) ? 0x03 : 0x02;
    config.malformedFirst = (data[0] & 2) != 0;
    const unsigned char id = config.deviceId;

    SimDevice cut(config);
    Collector cutSink;
    Replies replies;
    Bytes stream;
    std::uint32_t frame = 0;
    std::size_t pos = 1;
    while (pos < size) {
        const std::size_t length = data[pos++] % 201;
        const std::size_t take = std::min(length, size - pos);
        // Its own allocation, so a read past the event is an ASan report.
        const Bytes piece(data + pos, data + pos + take);
        pos += take;
        stream.insert(stream.end(), piece.begin(), piece.end());
        cut.receive(frame, piece.data(), piece.size(), cutSink);
        drainReplies(cut, cutSink, frame, id, replies);
        ++frame;
    }

    SimDevice whole(config);
    Collector wholeSink;
    whole.receive(0, stream.data(), stream.size(), wholeSink);
    const std::vector<SimReport> cutReports = streamReports(cutSink.reports);
    const std::vector<SimReport> wholeReports = streamReports(wholeSink.reports);
    FUZZ_CHECK(cutReports.size() == wholeReports.size());
    for (std::size_t i = 0; i < cutReports.size(); ++i)
        FUZZ_CHECK(sameReport(cutReports[i], wholeReports[i]));

    unsigned requests = 0;
    unsigned firstBlocks = 0;
    for (const SimReport &r : cutReports) {
        if (r.kind == SimReport::Message)
            FUZZ_CHECK(r.size >= 2 && r.size <= 521);
        if (r.kind == SimReport::VersionRequest)
            ++requests;
        if (r.kind != SimReport::Block)
            continue;
        FUZZ_CHECK(r.a >= 1 && r.a <= r.b && r.b <= kMaxBlockCount);
        firstBlocks += r.a == 1;
        DataBlockBuffer again{};
        buildDataBlockMessage(again, id, r.a, r.b, r.data, 256);
        const auto sysexEnd = again.begin() + kDataBlockEndOffset + 1;
        FUZZ_CHECK(std::search(stream.begin(), stream.end(), again.begin(), sysexEnd) !=
                   stream.end());
    }
    FUZZ_CHECK(replies.version == requests);
    FUZZ_CHECK(replies.ack == firstBlocks);
    const unsigned expectMalformedVersion = config.malformedFirst && requests > 0 ? 1 : 0;
    const unsigned expectMalformedAck = config.malformedFirst && firstBlocks > 0 ? 1 : 0;
    FUZZ_CHECK(replies.malformedVersion == expectMalformedVersion);
    FUZZ_CHECK(replies.malformedAck == expectMalformedAck);

    // Recovery: a fresh upload after whatever came before.
    cutSink.reports.clear();
    for (unsigned number = 1; number <= 2; ++number) {
        const Bytes block = dataBlock(id, number, 2, static_cast<unsigned char>(number));
        cut.receive(frame++, block.data(), block.size(), cutSink);
    }
    std::vector<unsigned> taken;
    for (const SimReport &r : cutSink.reports)
        if (r.kind == SimReport::Block && r.b == 2)
            taken.push_back(r.a);
    FUZZ_CHECK(taken == (std::vector<unsigned>{1, 2}));
    return 0;
}
