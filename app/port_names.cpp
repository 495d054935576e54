#include "port_names.h"

#include <QByteArray>
#include <QStringList>

namespace {

// Bridges that put their own client name in front of the device's name.
const char *const kBridgePrefixes[] = {"Midi-Bridge:", "a2j:"};
// a2jmidid names one JACK client per direction after the device.
const char *const kDirectionSuffixes[] = {" (capture)", " (playback)"};

// Windows names a second identical USB device "2- Varnox 1", a third "3- ...":
// the number, a dash and a space in front of the product name.
int windowsDuplicatePrefixLength(const QString &name)
{
    int digits = 0;
    while (digits < name.size() && name.at(digits).isDigit() && name.at(digits).unicode() < 128)
        ++digits;
    if (digits == 0 || !name.midRef(digits).startsWith(QLatin1String("- ")))
        return 0;
    return digits + 2;
}

} // namespace

// Without a bridge prefix, and up to the first ':' (which separates a JACK or
// ALSA client from its port).
QString deviceNameOfPort(const QString &portName)
{
    QString name = portName;
    for (const char *prefix : kBridgePrefixes) {
        if (name.startsWith(QLatin1String(prefix))) {
            name = name.mid(static_cast<int>(qstrlen(prefix)));
            break;
        }
    }
    const int colon = name.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        name = name.left(colon);
    for (const char *suffix : kDirectionSuffixes) {
        if (name.endsWith(QLatin1String(suffix)))
            name.chop(static_cast<int>(qstrlen(suffix)));
    }
    return name;
}

QString modelWordOfPort(const QString &portName)
{
    // The first word is the text before the first space, compared exactly:
    // "varnox", "Varnox-Desk" and "My Varnox" are other devices. Windows'
    // number of a second identical device is not part of the product name.
    const QString device = deviceNameOfPort(portName);
    const QString firstWord =
        device.mid(windowsDuplicatePrefixLength(device)).section(QLatin1Char(' '), 0, 0);
    if (firstWord == QLatin1String("Varnox") || firstWord == QLatin1String("Solune"))
        return firstWord;
    return QString();
}

bool isInstrumentPortName(const std::string &portName)
{
    return !modelWordOfPort(QString::fromStdString(portName)).isEmpty();
}

bool portMatchesSelection(const QString &portName, const QString &selectedText)
{
    if (modelWordOfPort(portName).isEmpty())
        return false;
    return portName.toLocal8Bit().contains(selectedText.toLocal8Bit());
}
