#include "sim_stats.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kMaxErrorTexts = 100;

std::string quoted(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string spread(std::vector<std::uint32_t> values)
{
    std::uint32_t lo = 0, median = 0, hi = 0;
    if (!values.empty()) {
        std::sort(values.begin(), values.end());
        lo = values.front();
        hi = values.back();
        median = values[values.size() / 2];
    }
    return "{\"min\": " + std::to_string(lo) + ", \"median\": " + std::to_string(median) +
           ", \"max\": " + std::to_string(hi) + "}";
}

std::string errorText(const SimReport &r)
{
    char buf[96];
    switch (r.error) {
    case FramingError::OutOfSequence:
        std::snprintf(buf, sizeof buf, "%s: block %u, expected %u", framingErrorText(r.error), r.a,
                      r.b);
        break;
    case FramingError::CountChanged:
        std::snprintf(buf, sizeof buf, "%s: block %u, count was %u", framingErrorText(r.error), r.a,
                      r.b);
        break;
    case FramingError::BadLength:
        std::snprintf(buf, sizeof buf, "%s: command 0x%02X, %u bytes", framingErrorText(r.error),
                      r.a, r.b);
        break;
    case FramingError::UnknownCommand:
        std::snprintf(buf, sizeof buf, "%s: 0x%02X", framingErrorText(r.error), r.a);
        break;
    case FramingError::ByteAbove7F:
        std::snprintf(buf, sizeof buf, "%s: 0x%02X at offset %u", framingErrorText(r.error), r.b,
                      r.a);
        break;
    case FramingError::BlockNumberZero:
    case FramingError::BlockBeyondCount:
    case FramingError::BadConstant:
    case FramingError::BadPair:
        std::snprintf(buf, sizeof buf, "%s: block %u", framingErrorText(r.error), r.a);
        break;
    default:
        std::snprintf(buf, sizeof buf, "%s", framingErrorText(r.error));
        break;
    }
    return buf;
}

} // namespace

void SimStats::add(const SimReport &r)
{
    switch (r.kind) {
    case SimReport::Piece:
        if (!pieceFrames_.empty() && r.a != 0)
            inMessageSpacing_.push_back(r.frame - pieceFrames_.back());
        else if (!pieceFrames_.empty())
            ++betweenMessageGaps_[r.frame - pieceFrames_.back()];
        if (r.a == 0 && ackBefore_)
            pausesAfterAck_.push_back(r.micros - ackMicros_);
        if (r.a == 0 && blockBefore_)
            pausesAfterBlock_.push_back(r.micros - blockEndMicros_);
        if (r.a == 0)
            ackBefore_ = blockBefore_ = false;
        pieceFrames_.push_back(r.frame);
        break;
    case SimReport::Message:
        ++messages_;
        break;
    case SimReport::VersionRequest:
        ++versionRequests_;
        break;
    case SimReport::Block: {
        if (r.a == 1) {
            ++uploads_;
            image_.clear();
            blocksReceived_ = 0;
        }
        ++blocksReceived_;
        ++blocksTotal_;
        blockCount_ = r.b;
        blockEndMicros_ = r.micros;
        blockBefore_ = true;
        const std::size_t end = std::size_t(r.a) * 256;
        if (image_.size() < end)
            image_.resize(end, 0);
        std::copy(r.data, r.data + 256, image_.begin() + std::ptrdiff_t(end - 256));
        break;
    }
    case SimReport::Error:
        ++framingErrors_;
        if (errorTexts_.size() < kMaxErrorTexts)
            errorTexts_.push_back(errorText(r));
        break;
    case SimReport::Ignored:
        ++ignored_;
        break;
    case SimReport::ReplySent:
        if (r.a == VersionReply)
            ++versionRepliesSent_;
        else if (r.a == Acknowledgement)
            ++acksSent_;
        else
            ++malformedSent_;
        if (r.a == Acknowledgement) {
            ackMicros_ = r.micros;
            ackBefore_ = true;
        }
        break;
    case SimReport::Unplugged:
        unplugged_ = true;
        break;
    }
}

std::string SimStats::toJson() const
{
    std::vector<std::uint32_t> spacing;
    for (std::size_t i = 1; i < pieceFrames_.size(); ++i)
        spacing.push_back(pieceFrames_[i] - pieceFrames_[i - 1]);
    double firstToLastMs = 0.0;
    if (pieceFrames_.size() > 1 && identity_.sampleRate > 0)
        firstToLastMs = double(pieceFrames_.back() - pieceFrames_.front()) * 1000.0 /
                        double(identity_.sampleRate);
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", firstToLastMs);

    std::string texts = "[";
    for (std::size_t i = 0; i < errorTexts_.size(); ++i)
        texts += (i ? ", " : "") + quoted(errorTexts_[i]);
    texts += "]";

    std::string j = "{\n";
    auto field = [&j](const char *name, const std::string &value, bool last = false) {
        j += std::string("  \"") + name + "\": " + value + (last ? "\n" : ",\n");
    };
    auto number = [](std::uint64_t v) { return std::to_string(v); };
    field("client_name", quoted(identity_.clientName));
    field("model", quoted(identity_.model));
    field("device_id", number(std::uint64_t(identity_.deviceId)));
    field("reply_id", number(std::uint64_t(identity_.replyId)));
    field("version", quoted(identity_.version));
    field("sample_rate", number(identity_.sampleRate));
    field("messages", number(messages_));
    field("version_requests", number(versionRequests_));
    field("blocks_received", number(blocksReceived_));
    field("blocks_received_total", number(blocksTotal_));
    field("block_count", number(blockCount_));
    field("uploads", number(uploads_));
    field("framing_errors", number(framingErrors_));
    field("framing_error_texts", texts);
    field("ignored_messages", number(ignored_));
    field("image_bytes", number(image_.size()));
    field("pieces", number(pieceFrames_.size()));
    field("piece_spacing_frames", spread(spacing));
    field("in_message_spacing_frames", spread(inMessageSpacing_));
    std::string counts = "{";
    for (const auto &[gap, count] : betweenMessageGaps_)
        counts += (counts.size() > 1 ? ", \"" : "\"") + std::to_string(gap) +
                  "\": " + std::to_string(count);
    field("between_message_gaps_frames", counts + "}");
    field("pause_after_ack_us", pausesAfterAck_.empty() ? "null" : spread(pausesAfterAck_));
    field("pause_after_block_us", pausesAfterBlock_.empty() ? "null" : spread(pausesAfterBlock_));
    field("first_to_last_piece_ms", ms);
    field("acks_sent", number(acksSent_));
    field("version_replies_sent", number(versionRepliesSent_));
    field("malformed_replies_sent", number(malformedSent_));
    field("lost_reports", number(lostReports_));
    field("unplugged", unplugged_ ? "true" : "false");
    field("exit_reason", quoted(exitReason_), true);
    return j + "}\n";
}
