#include "reply_callback.h"

#include "device_id.h"
#include "messages.h"
#include "reply_flags.h"

namespace {

// Byte by byte in message order, stopping at the first mismatch.
bool isAcknowledgement(const std::vector<unsigned char> &m, unsigned char id)
{
    return m[0] == kSysexStart && m[1] == id && m[2] == kAcknowledgementCommand &&
           m[3] == kSysexEnd;
}

bool isVersionReply(const std::vector<unsigned char> &m, unsigned char id)
{
    return m[0] == kSysexStart && m[1] == id && m[2] == kVersionCommand && m[6] == kSysexEnd;
}

} // namespace

void replyCallback(double, std::vector<unsigned char> *message, void *)
{
    if (message == nullptr)
        return;
    const std::vector<unsigned char> &m = *message;
    // Only the low byte of the id goes into messages, so only it is compared.
    const auto id = static_cast<unsigned char>(deviceId() & 0xFF);
    if (m.size() == kAcknowledgementSize) {
        if (isAcknowledgement(m, id))
            raiseAcknowledgement();
    } else if (m.size() == kVersionReplySize) {
        if (isVersionReply(m, id))
            storeVersionReply(m[3], m[4], m[5]);
    }
}
