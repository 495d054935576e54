#include "alsa_stream_events.h"

#include <cstdlib>

bool parseAlsaAddress(const std::string &portName, AlsaAddress &address)
{
    const size_t space = portName.find_last_of(' ');
    const std::string tail = space == std::string::npos ? portName : portName.substr(space + 1);
    const size_t colon = tail.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == tail.size())
        return false;
    const std::string clientText = tail.substr(0, colon);
    const std::string portText = tail.substr(colon + 1);
    for (const std::string *part : {&clientText, &portText}) {
        if (part->size() > 3 || part->find_first_not_of("0123456789") != std::string::npos)
            return false;
    }
    const int client = std::atoi(clientText.c_str());
    const int port = std::atoi(portText.c_str());
    // Sequencer clients are 0..191, ports 0..254 (255 is reserved).
    if (client > 191 || port > 254)
        return false;
    address.client = client;
    address.port = port;
    return true;
}

void makeAlsaPieceEvent(snd_seq_event_t &event, int queue, unsigned tick, int sourcePort,
                        const unsigned char *bytes, unsigned length)
{
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_source(&event, sourcePort);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_schedule_tick(&event, queue, 0, tick);
    // The sequencer passes a SysEx event's bytes through untouched, so pieces
    // that do not start with F0 and the zero bytes after F7 reach the device.
    snd_seq_ev_set_sysex(&event, length, const_cast<unsigned char *>(bytes));
}

void makeAlsaEchoEvent(snd_seq_event_t &event, int queue, unsigned tick, int ownClient, int ownPort)
{
    snd_seq_ev_clear(&event);
    event.type = SND_SEQ_EVENT_ECHO;
    snd_seq_ev_set_source(&event, ownPort);
    snd_seq_ev_set_dest(&event, ownClient, ownPort);
    snd_seq_ev_schedule_tick(&event, queue, 0, tick);
}

bool alsaAnnouncesLoss(const snd_seq_event_t &event, const AlsaAddress &destination,
                       const AlsaAddress &own)
{
    switch (event.type) {
    case SND_SEQ_EVENT_CLIENT_EXIT:
        return event.data.addr.client == destination.client;
    case SND_SEQ_EVENT_PORT_EXIT:
        return event.data.addr.client == destination.client &&
               event.data.addr.port == destination.port;
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
        return event.data.connect.sender.client == own.client &&
               event.data.connect.sender.port == own.port &&
               event.data.connect.dest.client == destination.client &&
               event.data.connect.dest.port == destination.port;
    default:
        return false;
    }
}
