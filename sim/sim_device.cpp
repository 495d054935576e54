#include "sim_device.h"

namespace {
constexpr unsigned char kVersionCommand = 0x15;
constexpr unsigned char kDataBlockCommand = 0x01;
constexpr unsigned char kAckCommand = 0x05;
constexpr std::size_t kUpdaterPieceBytes = 48;
} // namespace

std::size_t SimDevice::withoutWineFraming(const unsigned char *&data, std::size_t size) const
{
    if (size > 0 && data[0] == 0xF0 && reassembler_.midMessage()) {
        ++data;
        --size;
    }
    if (size == 0 || data[size - 1] != 0xF7)
        return size;
    if (size == kUpdaterPieceBytes + 1)
        return size - 1;
    // Whether a message is still open before the F7: a copy of the
    // reassembler (fixed storage) takes the piece's other bytes.
    SysexReassembler probe = reassembler_;
    struct Silent : SysexReassembler::Listener
    {
        void message(const unsigned char *, std::size_t) override {}
        void error(FramingError) override {}
    } silent;
    probe.feed(data, size - 1, silent);
    return probe.midMessage() ? size : size - 1;
}

void SimDevice::receive(std::uint32_t frame, const unsigned char *data, std::size_t size,
                        SimSink &sink)
{
    if (unplugged_)
        return;
    if (config_.wineFraming) {
        // Wine also sends controller messages (all notes and sounds off on
        // every channel) each time it stops a stream: not the updater's.
        if (size > 0 && data[0] >= 0x80 && data[0] < 0xF0)
            return;
        size = withoutWineFraming(data, size);
    }
    sink_ = &sink;
    frame_ = frame;
    SimReport piece;
    piece.kind = SimReport::Piece;
    piece.frame = frame;
    piece.micros = micros_;
    piece.size = std::uint32_t(size);
    piece.a = reassembler_.midMessage() ? 1 : 0;
    sink.report(piece);
    reassembler_.feed(data, size, *this);
    sink_ = nullptr;
}

void SimDevice::reportError(FramingError error, std::uint32_t a, std::uint32_t b)
{
    SimReport report;
    report.kind = SimReport::Error;
    report.error = error;
    report.frame = frame_;
    report.a = a;
    report.b = b;
    sink_->report(report);
}

void SimDevice::error(FramingError error)
{
    if (!unplugged_)
        reportError(error);
}

void SimDevice::message(const unsigned char *bytes, std::size_t size)
{
    if (unplugged_)
        return;
    SimReport report;
    report.kind = SimReport::Message;
    report.frame = frame_;
    report.size = std::uint32_t(size);
    sink_->report(report);

    if (size < 4) {
        reportError(FramingError::TooShort, std::uint32_t(size));
        return;
    }
    for (std::size_t i = 1; i + 1 < size; ++i) {
        if (bytes[i] >= 0x80) {
            reportError(FramingError::ByteAbove7F, std::uint32_t(i), bytes[i]);
            return;
        }
    }
    const unsigned char command = bytes[2];
    if (bytes[1] != config_.deviceId) {
        SimReport ignored;
        ignored.kind = SimReport::Ignored;
        ignored.frame = frame_;
        ignored.a = bytes[1];
        ignored.b = command;
        sink_->report(ignored);
        return;
    }
    if (command == kVersionCommand) {
        if (size != 4) {
            reportError(FramingError::BadLength, command, std::uint32_t(size));
            return;
        }
        SimReport request;
        request.kind = SimReport::VersionRequest;
        request.frame = frame_;
        sink_->report(request);
        if (!config_.noVersion)
            queueReply(VersionReply);
    } else if (command == kDataBlockCommand) {
        handleDataBlock(bytes, size);
    } else {
        reportError(FramingError::UnknownCommand, command);
    }
}

void SimDevice::handleDataBlock(const unsigned char *bytes, std::size_t size)
{
    ++blockMessages_;
    SimReport block;
    const DataBlockCheck::Result r = blocks_.check(bytes, size, block.data);
    if (!r.ok) {
        if (r.error == FramingError::BadLength)
            reportError(r.error, kDataBlockCommand, std::uint32_t(size));
        else
            reportError(r.error, r.number, r.expected);
    } else {
        block.kind = SimReport::Block;
        block.frame = frame_;
        block.micros = micros_;
        block.a = r.number;
        block.b = r.count;
        sink_->report(block);
        if (r.number == 1 && !config_.noAck)
            queueReply(Acknowledgement);
    }
    if (config_.exitAfterBlock != 0 && blockMessages_ >= config_.exitAfterBlock) {
        // Replies already queued still go out until the client closes.
        unplugged_ = true;
        SimReport gone;
        gone.kind = SimReport::Unplugged;
        gone.frame = frame_;
        gone.a = blockMessages_;
        sink_->report(gone);
    }
}

void SimDevice::queueReply(ReplyKind kind)
{
    ReplyQueue::Reply reply;
    reply.due = frame_ + config_.delayFrames;
    bool &malformedSent = kind == VersionReply ? versionMalformedSent_ : ackMalformedSent_;
    if (config_.malformedFirst && !malformedSent) {
        // One byte short, still ending in F7 so that the receiver sees it as a
        // message of its own and must drop it by its length.
        malformedSent = true;
        ReplyQueue::Reply bad = reply;
        if (kind == VersionReply) {
            bad.kind = MalformedVersionReply;
            const unsigned char b[] = {
                0xF0, config_.replyId, kVersionCommand, config_.version[0], config_.version[1],
                0xF7};
            bad.size = sizeof b;
            for (std::size_t i = 0; i < sizeof b; ++i)
                bad.bytes[i] = b[i];
        } else {
            bad.kind = MalformedAcknowledgement;
            const unsigned char b[] = {0xF0, config_.replyId, kAckCommand, 0x00, 0xF7};
            bad.size = sizeof b;
            for (std::size_t i = 0; i < sizeof b; ++i)
                bad.bytes[i] = b[i];
        }
        replies_.push(bad);
    }
    reply.kind = kind;
    if (kind == VersionReply) {
        const unsigned char b[] = {0xF0,
                                   config_.replyId,
                                   kVersionCommand,
                                   config_.version[0],
                                   config_.version[1],
                                   config_.version[2],
                                   0xF7};
        reply.size = sizeof b;
        for (std::size_t i = 0; i < sizeof b; ++i)
            reply.bytes[i] = b[i];
    } else {
        const unsigned char b[] = {0xF0, config_.replyId, kAckCommand, 0xF7};
        reply.size = sizeof b;
        for (std::size_t i = 0; i < sizeof b; ++i)
            reply.bytes[i] = b[i];
    }
    replies_.push(reply);
}
