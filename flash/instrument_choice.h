#pragma once

#include "session.h"

#include <QString>
#include <QStringList>
#include <QVector>

// An instrument as the shell sees it: the ports of one device, grouped by the
// device's own name ("Varnox 1"), each side in port index order.
struct Instrument
{
    QString name;
    QString model;
    QVector<InstrumentPort> inputs;
    QVector<InstrumentPort> outputs;
};

// Every instrument found, in the order its first port is listed.
QVector<Instrument> findInstruments();

// Its lines for --list and for a usage error that lists the instruments:
// the name, the model word, the device id an upload would use (the output's
// model's), and the port names as the MIDI system shows them.
QStringList describe(const Instrument &instrument);

// The ports an upload uses. Without names: the only instrument found. With a
// name: the port of that side whose name is the name, or else the only one
// that contains it; a side not named takes the named side's device's port.
// Where a device has several ports on a side, the lowest-index one.
struct PortChoice
{
    enum Outcome
    {
        Chosen,
        Ambiguous, // several instruments, or a name that fits several ports
        NotFound   // no instrument, a name that fits no port, a side missing
    };
    Outcome outcome = NotFound;
    InstrumentPort input{};
    InstrumentPort output{};
    QString problem; // why not Chosen, one line
};
PortChoice choosePorts(const QVector<Instrument> &instruments, const QString &inputName,
                       const QString &outputName);
