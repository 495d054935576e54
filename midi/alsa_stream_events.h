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
// must live until the event is output), scheduled on `queue` at absolute
// `tick`, from our `sourcePort` to its subscribers.
void makeAlsaPieceEvent(snd_seq_event_t &event, int queue, unsigned tick, int sourcePort,
                        const unsigned char *bytes, unsigned length);

// The event sent back to ourselves at `tick`, behind the unit's last piece:
// when it arrives, the whole unit has been delivered.
void makeAlsaEchoEvent(snd_seq_event_t &event, int queue, unsigned tick, int ownClient,
                       int ownPort);

// True when an announcement from the sequencer says `destination` (or its
// client, or our connection to it) has gone.
bool alsaAnnouncesLoss(const snd_seq_event_t &event, const AlsaAddress &destination,
                       const AlsaAddress &own);
