#pragma once

#include "sim_report.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What the instrument saw, gathered on the main thread from the reports of the
// process callback, and written out as the JSON summary and the image file.
class SimStats
{
public:
    struct Identity
    {
        std::string clientName;
        std::string model;
        int deviceId = 0;
        int replyId = 0;
        std::string version;
        std::uint32_t sampleRate = 0;
    };

    explicit SimStats(Identity identity) : identity_(std::move(identity)) {}

    void add(const SimReport &report);
    void addLostReports(std::uint64_t n) { lostReports_ = n; }
    void setExitReason(const std::string &reason) { exitReason_ = reason; }

    std::string toJson() const;
    // The current upload's image: block i at (i - 1) * 256, up to the highest
    // block received (N x 256 bytes once every block came).
    const std::vector<unsigned char> &image() const { return image_; }

    unsigned blocksReceived() const { return blocksReceived_; }
    std::size_t pieces() const { return pieceFrames_.size(); }
    bool unplugged() const { return unplugged_; }

private:
    Identity identity_;
    std::uint64_t messages_ = 0;
    std::uint64_t versionRequests_ = 0;
    std::uint64_t ignored_ = 0;
    unsigned blocksReceived_ = 0; // in the current upload (since the last block 1)
    std::uint64_t blocksTotal_ = 0;
    unsigned blockCount_ = 0;
    unsigned uploads_ = 0;
    std::uint64_t framingErrors_ = 0;
    std::vector<std::string> errorTexts_;
    std::vector<std::uint32_t> pieceFrames_;
    std::vector<std::uint32_t> inMessageSpacing_;
    // From the last piece of one message to the first of the next: each
    // distinct gap with its count (on JACK a few values a period apart).
    std::map<std::uint32_t, unsigned> betweenMessageGaps_;
    // The pauses the updater keeps, in microseconds of real time: from the
    // acknowledgement sent to the next message's first piece, and from a data
    // block's last piece to it.
    std::vector<std::uint32_t> pausesAfterAck_;
    std::vector<std::uint32_t> pausesAfterBlock_;
    std::uint32_t ackMicros_ = 0;
    std::uint32_t blockEndMicros_ = 0;
    bool ackBefore_ = false;
    bool blockBefore_ = false;
    std::uint64_t acksSent_ = 0;
    std::uint64_t versionRepliesSent_ = 0;
    std::uint64_t malformedSent_ = 0;
    std::uint64_t lostReports_ = 0;
    std::vector<unsigned char> image_;
    bool unplugged_ = false;
    std::string exitReason_ = "running";
};
