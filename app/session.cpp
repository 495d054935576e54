#include "session.h"

#include "device_id.h"
#include "library_messages.h"
#include "messages.h"
#include "port_names.h"
#include "reply_callback.h"
#include "reply_flags.h"
#include "stream_error.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

// One translation unit fixes the construction order (and so the reverse
// destruction order at exit). The transport takes the MIDI API on which an
// instrument is to be found.
Midi midi(Midi::chooseApi(isInstrumentPortName));
QFile firmwareFile;

// Run by every wait step. Made at the first step, once the application object
// exists: an event loop made before it makes Qt warn on standard error.
static QEventLoop &sharedEventLoop()
{
    static QEventLoop loop;
    return loop;
}

void waitStep(int milliseconds)
{
    waitStepUntil(StepClock::now() + std::chrono::milliseconds(milliseconds));
}

void waitStepUntil(StepClock::time_point end)
{
    // Qt's timers wake on whole milliseconds, up to one late, and a unit sent
    // half a millisecond late misses the MIDI cycle it could start in. So the
    // event loop runs until the last millisecond and a sleep ends the step on
    // time (not when another step's timer ended the loop early).
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - StepClock::now()).count();
    QTimer::singleShot(std::max(0, int(left) - 1), Qt::PreciseTimer, &sharedEventLoop(),
                       SLOT(quit()));
    if (sharedEventLoop().exec(QEventLoop::AllEvents) == 0 &&
        end - StepClock::now() <= std::chrono::milliseconds(1))
        std::this_thread::sleep_until(end);
}

namespace {

constexpr int kVersionPollMs = 5;
constexpr int kVersionPollSteps = 200;

QString tr(const char *text)
{
    return QCoreApplication::translate("Session", text);
}

// Every port of one side whose name is a supported instrument's.
template <typename Side> QVector<InstrumentPort> instrumentPorts(Side &side)
{
    QVector<InstrumentPort> ports;
    const unsigned int count = side.getPortCount();
    for (unsigned int i = 0; i < count; ++i) {
        const QString name = QString::fromStdString(side.getPortName(i));
        const QString model = modelWordOfPort(name);
        if (!model.isEmpty())
            ports.append({i, name, model});
    }
    return ports;
}

void rejoinStoppedServer()
{
    if (!midiServerStopped())
        return;
    // The callback goes before the input port it serves.
    midi.midiIn.cancelCallback();
    midi.rejoinService();
}

} // namespace

QVector<InstrumentPort> instrumentInputPorts()
{
    // RtMidi's JACK side tries to join a server that is not running at each
    // listing, and the libraries say so on standard error.
    const QuietMidiLibraries quiet;
    rejoinStoppedServer();
    return instrumentPorts(midi.midiIn);
}

QVector<InstrumentPort> instrumentOutputPorts()
{
    const QuietMidiLibraries quiet;
    rejoinStoppedServer();
    // From the first listing on, a server that ends is heard also while no
    // port is open, so that a later failure can say what to do.
    midi.midiOut.watchService();
    return instrumentPorts(midi.midiOut);
}

bool midiServerStopped()
{
    return midi.serviceStopped();
}

QString openReplyInput(unsigned int index, const QString &portName)
{
    midi.midiIn.openPort(index, "RtMidi Input");
    // RtMidi drops SysEx by default, and every reply is one.
    midi.midiIn.ignoreTypes(false, false, false);
    midi.midiIn.setCallback(&replyCallback, nullptr);
    return tr("Opened input port ") + modelWordOfPort(portName);
}

QString openStreamOutput(unsigned int index, const QString &portName)
{
    midi.midiOut.openStreamPort(index, "RtMidi Output");
    return tr("Opened output port ") + modelWordOfPort(portName);
}

QString queryFirmwareVersion()
{
    clearVersionReceived();
    const auto request = buildVersionRequest(deviceId());
    midi.midiOut.sendStream(request.data(), request.size());

    // The flag is tested before each wait step only: a reply that comes in
    // during the last step still ends in the fallback.
    int steps = 0;
    while (!versionReceived()) {
        waitStep(kVersionPollMs);
        if (++steps >= kVersionPollSteps) {
            setVersionBytes(1, 0, 0);
            return tr("Version 1.0.X");
        }
    }
    const auto version = versionBytes();
    // The reply's debug line, written here: the callback that took the reply
    // runs where nothing may allocate or lock.
    QMessageLogger().debug("%u %u %u", unsigned(version[0]), unsigned(version[1]),
                           unsigned(version[2]));
    return tr("Firmware version ") + QString::number(version[0]) + QLatin1Char('.') +
           QString::number(version[1]) + QLatin1Char('.') + QString::number(version[2]);
}

void closeFileAndPorts()
{
    firmwareFile.close();
    midi.midiIn.cancelCallback();
    midi.midiIn.closePort();
    midi.midiOut.closePort();
}

QString midiErrorText(const RtMidiError &error)
{
    return QString::fromStdString(error.getMessage()).trimmed();
}

QString openRefusalLogText(const RtMidiError &error)
{
    return QString::fromStdString(openRefusalLogLine(error));
}
