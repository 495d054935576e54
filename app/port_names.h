#pragma once

#include <QString>
#include <string>

// How the tool recognises an instrument in the port names that the MIDI layer
// reports. The model word ("Varnox" or "Solune") is the first word of the
// device's own name; on Linux that name sits behind a client or bridge prefix:
//   Varnox 1                                       (Windows: product name, index)
//   2- Varnox 1                                    (Windows: a second identical device)
//   Varnox 1:in                                    (a JACK client named after the device)
//   Varnox:Varnox MIDI 1 20:0                      (ALSA sequencer: client:port address)
//   Midi-Bridge:Varnox 1:(capture_0) Varnox MIDI 1 (PipeWire's JACK bridge)
//   a2j:Varnox [20] (capture): Varnox MIDI 1       (a2jmidid)

// The device's own name in a port name ("Varnox 1" in each example above),
// the same for the device's input and output ports.
QString deviceNameOfPort(const QString &portName);

// The model word of a supported instrument's port, or an empty string. The
// device's name keeps Windows' "2- " of a second identical device, so that
// two devices stay two; the model word is taken after it.
QString modelWordOfPort(const QString &portName);

// Whether a port name (as the MIDI layer gives it) is a supported instrument's.
bool isInstrumentPortName(const std::string &portName);

// Whether the port belongs to a supported instrument and carries the text
// chosen in a port list (a model word) anywhere in its full name.
bool portMatchesSelection(const QString &portName, const QString &selectedText);
