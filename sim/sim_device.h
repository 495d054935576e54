#pragma once

#include "data_block_check.h"
#include "reply_queue.h"
#include "sim_report.h"
#include "sysex_reassembler.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// How the simulated instrument behaves, fault modes included.
struct SimConfig
{
    unsigned char deviceId = 0x03; // the id it answers to
    unsigned char replyId = 0x03;  // the id its replies carry
    unsigned char version[3] = {2, 1, 7};
    bool noVersion = false;
    bool noAck = false;
    bool malformedFirst = false;
    std::uint32_t delayFrames = 0;
    unsigned exitAfterBlock = 0; // data block messages before it goes away; 0 never
    // Each piece arrives as Wine's winmm sends it: a SysEx message of its own.
    bool wineFraming = false;
};

// The instrument's MIDI side, free of JACK: raw events in, reports and replies
// out. Everything here is real-time safe (fixed storage, no locks, no I/O).
class SimDevice : private SysexReassembler::Listener
{
public:
    explicit SimDevice(const SimConfig &config) : config_(config) {}

    // One raw MIDI event that arrived at the absolute frame.
    void receive(std::uint32_t frame, const unsigned char *data, std::size_t size, SimSink &sink);
    // Wine's winmm hands each piece to the sequencer as a whole SysEx message:
    // F0 put in front of a piece that continues a message, F7 after a piece
    // that does not end with one. The piece as the updater sent it: `data`
    // moved past Wine's F0, and the size without Wine's F7. The updater's
    // pieces are 48 bytes but a unit's last, so Wine's F7 is the 49th byte
    // of a piece, or one that comes when no message is open (after a data
    // block's padding); a real F7 ends an open message.
    std::size_t withoutWineFraming(const unsigned char *&data, std::size_t size) const;

    // Writes the replies due in the cycle [cycleStart, cycleStart + nframes),
    // write(offset, bytes, size) -> bool, and reports each one sent.
    template <typename Write>
    void emitDue(std::uint32_t cycleStart, std::uint32_t nframes, Write write, SimSink &sink)
    {
        replies_.emitDue(cycleStart, nframes, write, [&](const ReplyQueue::Reply &r) {
            SimReport report;
            report.kind = SimReport::ReplySent;
            report.frame = r.due;
            report.micros = micros_;
            report.a = r.kind;
            report.size = std::uint32_t(r.size);
            sink.report(report);
        });
        pending_.store(replies_.size(), std::memory_order_release);
    }

    // The real time, in microseconds, of what comes next (a cycle's, or an
    // event's delivery): stamped on pieces, blocks and replies.
    void setClock(std::uint32_t micros) { micros_ = micros; }

    // After the block limit: no more input is looked at.
    bool unplugged() const { return unplugged_; }
    // Replies not yet written; safe to read from another thread.
    std::size_t pendingReplies() const { return pending_.load(std::memory_order_acquire); }

private:
    void message(const unsigned char *bytes, std::size_t size) override;
    void error(FramingError error) override;
    void reportError(FramingError error, std::uint32_t a = 0, std::uint32_t b = 0);
    void handleDataBlock(const unsigned char *bytes, std::size_t size);
    void queueReply(ReplyKind kind);

    SimConfig config_;
    SysexReassembler reassembler_;
    DataBlockCheck blocks_;
    ReplyQueue replies_;
    SimSink *sink_ = nullptr; // valid during receive()
    std::uint32_t frame_ = 0;
    std::uint32_t micros_ = 0;
    unsigned blockMessages_ = 0;
    std::atomic<std::size_t> pending_{0};
    bool unplugged_ = false;
    bool versionMalformedSent_ = false;
    bool ackMalformedSent_ = false;
};
