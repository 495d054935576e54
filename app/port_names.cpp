#include "port_names.h"

#include <QByteArray>
#include <QStringList>

namespace {

// Bridges that put their own client name in front of the device's name.
const char *const kBridgePrefixes[] = {"Midi-Bridge:", "a2j:"};

// The device's own name: without a bridge prefix, and up to the first ':'
// (which separates a JACK or ALSA client from its port).
QString deviceName(const QString &portName)
{
    QString name = portName;
    for (const char *prefix : kBridgePrefixes) {
        if (name.startsWith(QLatin1String(prefix))) {
            name = name.mid(static_cast<int>(qstrlen(prefix)));
            break;
        }
    }
    const int colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.left(colon);
}

} // namespace

QString modelWordOfPort(const QString &portName)
{
    // The first word is the text before the first space, compared exactly:
    // "varnox", "Varnox-Desk" and "My Varnox" are other devices.
    const QString firstWord = deviceName(portName).section(QLatin1Char(' '), 0, 0);
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
