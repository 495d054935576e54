#include "instrument_choice.h"

#include "device_id.h"
#include "port_names.h"

namespace {

Instrument *instrumentNamed(QVector<Instrument> &instruments, const QString &name)
{
    for (Instrument &instrument : instruments)
        if (instrument.name == name)
            return &instrument;
    return nullptr;
}

void addPort(QVector<Instrument> &instruments, const InstrumentPort &port, bool input)
{
    const QString name = deviceNameOfPort(port.name);
    Instrument *instrument = instrumentNamed(instruments, name);
    if (!instrument) {
        instruments.append({name, port.model, {}, {}});
        instrument = &instruments.last();
    }
    (input ? instrument->inputs : instrument->outputs).append(port);
}

// The port of one side called `name`, or else the only one containing it.
PortChoice::Outcome findPort(const QVector<Instrument> &instruments, bool input,
                             const QString &name, InstrumentPort &found)
{
    QVector<InstrumentPort> containing;
    for (const Instrument &instrument : instruments) {
        for (const InstrumentPort &port : input ? instrument.inputs : instrument.outputs) {
            if (port.name == name) {
                found = port;
                return PortChoice::Chosen;
            }
            if (port.name.contains(name))
                containing.append(port);
        }
    }
    if (containing.size() != 1)
        return containing.isEmpty() ? PortChoice::NotFound : PortChoice::Ambiguous;
    found = containing.first();
    return PortChoice::Chosen;
}

} // namespace

QVector<Instrument> findInstruments()
{
    QVector<Instrument> instruments;
    for (const InstrumentPort &port : instrumentInputPorts())
        addPort(instruments, port, true);
    for (const InstrumentPort &port : instrumentOutputPorts())
        addPort(instruments, port, false);
    return instruments;
}

QStringList describe(const Instrument &instrument)
{
    QStringList lines;
    lines << instrument.name + QStringLiteral(": model ") + instrument.model +
                 QStringLiteral(", device id ") +
                 (instrument.outputs.isEmpty()
                      ? QStringLiteral("none (no output port)")
                      : QStringLiteral("0x%1").arg(
                            deviceIdForModel(instrument.outputs.first().model.toStdString()), 2, 16,
                            QLatin1Char('0')));
    for (const InstrumentPort &port : instrument.inputs)
        lines << QStringLiteral("  input:  ") + port.name;
    for (const InstrumentPort &port : instrument.outputs)
        lines << QStringLiteral("  output: ") + port.name;
    return lines;
}

PortChoice choosePorts(const QVector<Instrument> &instruments, const QString &inputName,
                       const QString &outputName)
{
    PortChoice choice;
    QString device;
    if (inputName.isEmpty() && outputName.isEmpty()) {
        if (instruments.size() != 1) {
            choice.outcome = instruments.isEmpty() ? PortChoice::NotFound : PortChoice::Ambiguous;
            choice.problem = instruments.isEmpty()
                                 ? QStringLiteral("no instrument found")
                                 : QStringLiteral("%1 instruments found; name the ports with "
                                                  "--input and --output")
                                       .arg(instruments.size());
            return choice;
        }
        device = instruments.first().name;
    }
    for (const bool input : {true, false}) {
        const QString &name = input ? inputName : outputName;
        if (name.isEmpty())
            continue;
        InstrumentPort &port = input ? choice.input : choice.output;
        choice.outcome = findPort(instruments, input, name, port);
        if (choice.outcome != PortChoice::Chosen) {
            choice.problem =
                QStringLiteral("%1 instrument %2 port named \"%3\"")
                    .arg(choice.outcome == PortChoice::NotFound ? "no" : "more than one",
                         input ? "input" : "output", name);
            return choice;
        }
        device = deviceNameOfPort(port.name);
    }
    // A side not named: the device's own port.
    const Instrument *instrument = nullptr;
    for (const Instrument &candidate : instruments)
        if (candidate.name == device)
            instrument = &candidate;
    for (const bool input : {true, false}) {
        if (!(input ? inputName : outputName).isEmpty())
            continue;
        const QVector<InstrumentPort> &ports = input ? instrument->inputs : instrument->outputs;
        if (ports.isEmpty()) {
            choice.outcome = PortChoice::NotFound;
            choice.problem = device + QStringLiteral(" has no ") + (input ? "input" : "output") +
                             QStringLiteral(" port");
            return choice;
        }
        (input ? choice.input : choice.output) = ports.first();
    }
    choice.outcome = PortChoice::Chosen;
    return choice;
}
