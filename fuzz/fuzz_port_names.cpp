// The port-name mapping fed arbitrary names: any bytes, read as UTF-8,
// Latin-1, UTF-16 or the local 8-bit encoding (byte 0, low 2 bits), and the
// raw bytes as the std::string the MIDI layer hands over.
//
// Properties: the model word is empty, "Varnox" or "Solune", and appears in the
// name; the std::string entry point agrees with the QString one; a port with a
// model word matches its own word as the selection and a port without one
// matches nothing; a bridge prefix in front ("a2j:", "Midi-Bridge:") and a
// ":port" part behind the device name change nothing.
#include "fuzz_check.h"
#include "port_names.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

QString decode(unsigned mode, const char *bytes, int size)
{
    switch (mode) {
    case 0:
        return QString::fromUtf8(bytes, size);
    case 1:
        return QString::fromLatin1(bytes, size);
    case 2: {
        QString s;
        for (int i = 0; i + 1 < size; i += 2)
            s.append(QChar(static_cast<ushort>((static_cast<unsigned char>(bytes[i]) << 8) |
                                               static_cast<unsigned char>(bytes[i + 1]))));
        return s;
    }
    default:
        return QString::fromLocal8Bit(bytes, size);
    }
}

bool startsWithBridge(const QString &name)
{
    return name.startsWith(QLatin1String("a2j:")) || name.startsWith(QLatin1String("Midi-Bridge:"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const int length = static_cast<int>(size - 1);
    const QString name = decode(data[0] & 3, bytes, length);
    const QString word = modelWordOfPort(name);

    FUZZ_CHECK(word.isEmpty() || word == QLatin1String("Varnox") ||
               word == QLatin1String("Solune"));
    FUZZ_CHECK(word.isEmpty() || name.contains(word));

    const std::string raw(bytes, static_cast<std::size_t>(length));
    const bool rawIsInstrument = isInstrumentPortName(raw);
    if ((data[0] & 3) == 0)
        FUZZ_CHECK(rawIsInstrument == !word.isEmpty());

    FUZZ_CHECK(portMatchesSelection(name, QString()) == !word.isEmpty());
    if (!word.isEmpty())
        FUZZ_CHECK(portMatchesSelection(name, word));
    else
        FUZZ_CHECK(!portMatchesSelection(name, QStringLiteral("Varnox")) &&
                   !portMatchesSelection(name, QStringLiteral("Solune")));

    if (!startsWithBridge(name)) {
        FUZZ_CHECK(modelWordOfPort(QLatin1String("a2j:") + name) == word);
        FUZZ_CHECK(modelWordOfPort(QLatin1String("Midi-Bridge:") + name) == word);
        if (name != QLatin1String("a2j") && name != QLatin1String("Midi-Bridge"))
            FUZZ_CHECK(modelWordOfPort(name + QLatin1Char(':') + name) == word);
    }
    return 0;
}
