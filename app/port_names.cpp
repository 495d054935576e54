#include "port_names.h"

#include <QByteArray>
#include <QStringList>

namespace {

// Bridges that put their own client name in front of the device's name.
const char *const kBridgePrefixes[] = {"Midi-Bridge:", "a2j:"};
// a2jmidid names one JACK client per direction after the device.
const char *const kDirectionSuffixes[] = {" (capture)", " (playback)"};

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
    // "varnox", "Varnox-Desk" and "My Varnox" are other devices.
    const QString firstWord = deviceNameOfPort(portName).section(QLatin1Char(' '), 0, 0);
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
