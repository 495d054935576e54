#pragma once

#include <alsa/asoundlib.h>

#include <string>

// The pure parts of the ALSA sequencer backend, kept apart so they can be
// checked on machines without a sequencer.

struct AlsaAddress
{
    int client = -1;
    int port = -1;
};

// RtMidi's ALSA port names end in the sequencer address, "client:port"
// ("Varnox:Varnox MIDI 1 20:0"). False when the name does not end in one.
bool parseAlsaAddress(const std::string &portName, AlsaAddress &address);

// A piece of a unit: a SysEx event carrying the raw bytes (not copied; they
// must live until the event is output), scheduled on `queue` `afterTicks`
// after the tick at which the sequencer takes it, from our `sourcePort` to
// its subscribers.
void makeAlsaPieceEvent(snd_seq_event_t &event, int queue, unsigned afterTicks, int sourcePort,
                        const unsigned char *bytes, unsigned length);

// The event sent back to ourselves `afterTicks` after the tick at which the
// sequencer takes it, behind the unit's last piece: when it arrives, the whole
// unit has been delivered, and its time is the last piece's absolute tick.
void makeAlsaEchoEvent(snd_seq_event_t &event, int queue, unsigned afterTicks, int ownClient,
                       int ownPort);

// True when an announcement from the sequencer says `destination` (or its
// client, or our connection to it) has gone.
bool alsaAnnouncesLoss(const snd_seq_event_t &event, const AlsaAddress &destination,
                       const AlsaAddress &own);
