// The reply decoder fed arbitrary messages, under either device id.
//
// Input: byte 0 picks the current device id (bit 0 set: 0x03, else 0x02), so
// replies carrying the other model's id must be dropped. Then messages, each a
// length byte (low 4 bits: 0..15) and that many bytes. Every message is handed over in a vector of
// exactly its length, so a read past the end is an AddressSanitizer report.
//
// Properties checked after every message, against the message's own bytes:
// the acknowledgement flag rises exactly for F0 id 05 F7 and is never lowered;
// the version flag rises exactly for a 7-byte F0 id 15 a b c F7, whose a b c
// then are the stored bytes; any other message leaves the stored version bytes
// as they were; no message writes a line to Qt's log (the callback runs on
// RtMidi's input thread, the version's debug line is the query's).
#include "device_id.h"
#include "fuzz_check.h"
#include "reply_callback.h"
#include "reply_flags.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

int debugLines = 0;

void captureDebug(QtMsgType, const QMessageLogContext &, const QString &)
{
    ++debugLines;
}

bool isAck(const std::vector<unsigned char> &m, unsigned char id)
{
    return m.size() == 4 && m[0] == 0xF0 && m[1] == id && m[2] == 0x05 && m[3] == 0xF7;
}

bool isVersion(const std::vector<unsigned char> &m, unsigned char id)
{
    return m.size() == 7 && m[0] == 0xF0 && m[1] == id && m[2] == 0x15 && m[6] == 0xF7;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool installed = (qInstallMessageHandler(captureDebug), true);
    (void)installed;
    if (size == 0)
        return 0;
    const unsigned char id = (data[0] & 1) ? kVarnoxDeviceId : kSoluneDeviceId;
    setDeviceId(id);
    clearAcknowledgement();
    clearVersionReceived();
    setVersionBytes(0, 0, 0);

    // A missing message is dropped, not dereferenced.
    replyCallback(0.0, nullptr, nullptr);
    FUZZ_CHECK(!acknowledgementReceived() && !versionReceived());

    std::size_t pos = 1;
    while (pos < size) {
        const std::size_t length = data[pos++] & 0x0F;
        const std::size_t take = length < size - pos ? length : size - pos;
        const std::vector<unsigned char> message(data + pos, data + pos + take);
        pos += take;

        const bool ackBefore = acknowledgementReceived();
        const bool versionBefore = versionReceived();
        const std::array<unsigned char, 3> bytesBefore = versionBytes();
        const int debugBefore = debugLines;

        std::vector<unsigned char> handedOver = message;
        replyCallback(0.0, &handedOver, nullptr);

        // The decoder reads the message; it never changes it.
        FUZZ_CHECK(handedOver == message);
        FUZZ_CHECK(acknowledgementReceived() == (ackBefore || isAck(message, id)));
        if (isVersion(message, id)) {
            FUZZ_CHECK(versionReceived());
            const std::array<unsigned char, 3> stored = versionBytes();
            FUZZ_CHECK(stored[0] == message[3] && stored[1] == message[4] &&
                       stored[2] == message[5]);
        } else {
            FUZZ_CHECK(versionReceived() == versionBefore);
            FUZZ_CHECK(versionBytes() == bytesBefore);
        }
        FUZZ_CHECK(debugLines == debugBefore);
    }
    return 0;
}
