// Proves the parts of the ALSA sequencer backend that can be checked without
// a sequencer (this machine has none): reading the destination address from
// RtMidi's ALSA port names, the contents of the SysEx piece and echo events,
// and which announcements count as losing the destination. Opening, queue
// timing and delivery need a sequencer and are not exercised here.
#include "alsa_stream_events.h"
#include "stream_framing.h"

#include <QtTest>

#include <cstring>

#include <vector>

class TestStreamAlsaEvents : public QObject
{
    Q_OBJECT

private slots:
    void parsesAddress_data();
    void parsesAddress();
    void pieceEventCarriesRawBytesOnTheQueue();
    void echoEventComesBackToUs();
    void lossAnnouncements_data();
    void lossAnnouncements();
};

void TestStreamAlsaEvents::parsesAddress_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("client");
    QTest::addColumn<int>("port");
    QTest::newRow("rtmidi") << "Varnox:Varnox MIDI 1 20:0" << true << 20 << 0;
    QTest::newRow("two digits") << "Solune:Solune MIDI 2 128:14" << true << 128 << 14;
    QTest::newRow("bare") << "24:1" << true << 24 << 1;
    QTest::newRow("no address") << "Varnox:Varnox MIDI 1" << false << -1 << -1;
    QTest::newRow("empty") << "" << false << -1 << -1;
    QTest::newRow("missing port") << "Varnox 20:" << false << -1 << -1;
    QTest::newRow("missing client") << "Varnox :3" << false << -1 << -1;
    QTest::newRow("letters") << "Varnox 2a:0" << false << -1 << -1;
    QTest::newRow("negative") << "Varnox -1:0" << false << -1 << -1;
    QTest::newRow("client too big") << "Varnox 192:0" << false << -1 << -1;
    QTest::newRow("port too big") << "Varnox 20:255" << false << -1 << -1;
    QTest::newRow("overlong") << "Varnox 0000000000020:0" << false << -1 << -1;
}

void TestStreamAlsaEvents::parsesAddress()
{
    QFETCH(QString, name);
    QFETCH(bool, ok);
    QFETCH(int, client);
    QFETCH(int, port);
    AlsaAddress address;
    QCOMPARE(parseAlsaAddress(name.toStdString(), address), ok);
    QCOMPARE(address.client, client);
    QCOMPARE(address.port, port);
}

void TestStreamAlsaEvents::pieceEventCarriesRawBytesOnTheQueue()
{
    // A middle piece: not starting with F0, must pass untouched.
    std::vector<unsigned char> bytes(48);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i + 1);
    snd_seq_event_t event;
    std::memset(&event, 0xAB, sizeof event);
    makeAlsaPieceEvent(event, 3, 1234, 7, bytes.data(), 48);
    QCOMPARE(int(event.type), int(SND_SEQ_EVENT_SYSEX));
    QCOMPARE(event.flags & SND_SEQ_EVENT_LENGTH_MASK, SND_SEQ_EVENT_LENGTH_VARIABLE);
    QCOMPARE(event.flags & SND_SEQ_TIME_STAMP_MASK, SND_SEQ_TIME_STAMP_TICK);
    QCOMPARE(event.flags & SND_SEQ_TIME_MODE_MASK, SND_SEQ_TIME_MODE_ABS);
    QCOMPARE(int(event.queue), 3);
    QCOMPARE(event.time.tick, 1234u);
    QCOMPARE(int(event.source.port), 7);
    QCOMPARE(int(event.dest.client), int(SND_SEQ_ADDRESS_SUBSCRIBERS));
    QCOMPARE(event.data.ext.len, 48u);
    QCOMPARE(event.data.ext.ptr, static_cast<void *>(bytes.data()));
}

void TestStreamAlsaEvents::echoEventComesBackToUs()
{
    snd_seq_event_t event;
    std::memset(&event, 0xAB, sizeof event);
    makeAlsaEchoEvent(event, 3, 1289, 130, 7);
    QCOMPARE(int(event.type), int(SND_SEQ_EVENT_ECHO));
    QCOMPARE(int(event.queue), 3);
    QCOMPARE(event.time.tick, 1289u);
    QCOMPARE(event.flags & SND_SEQ_TIME_STAMP_MASK, SND_SEQ_TIME_STAMP_TICK);
    QCOMPARE(event.flags & SND_SEQ_TIME_MODE_MASK, SND_SEQ_TIME_MODE_ABS);
    QCOMPARE(int(event.dest.client), 130);
    QCOMPARE(int(event.dest.port), 7);
    QCOMPARE(int(event.source.port), 7);
}

void TestStreamAlsaEvents::lossAnnouncements_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("client");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("senderClient");
    QTest::addColumn<bool>("lost");
    // Destination 20:0, ourselves 130:7.
    QTest::newRow("client exit") << int(SND_SEQ_EVENT_CLIENT_EXIT) << 20 << 0 << 0 << true;
    QTest::newRow("other client exit") << int(SND_SEQ_EVENT_CLIENT_EXIT) << 21 << 0 << 0 << false;
    QTest::newRow("port exit") << int(SND_SEQ_EVENT_PORT_EXIT) << 20 << 0 << 0 << true;
    QTest::newRow("other port exit") << int(SND_SEQ_EVENT_PORT_EXIT) << 20 << 1 << 0 << false;
    QTest::newRow("our link cut") << int(SND_SEQ_EVENT_PORT_UNSUBSCRIBED) << 20 << 0 << 130 << true;
    QTest::newRow("someone else's link")
        << int(SND_SEQ_EVENT_PORT_UNSUBSCRIBED) << 20 << 0 << 131 << false;
    QTest::newRow("port start") << int(SND_SEQ_EVENT_PORT_START) << 20 << 0 << 0 << false;
}

void TestStreamAlsaEvents::lossAnnouncements()
{
    QFETCH(int, type);
    QFETCH(int, client);
    QFETCH(int, port);
    QFETCH(int, senderClient);
    QFETCH(bool, lost);
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    event.type = static_cast<snd_seq_event_type_t>(type);
    if (type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED) {
        event.data.connect.sender.client = static_cast<unsigned char>(senderClient);
        event.data.connect.sender.port = 7;
        event.data.connect.dest.client = static_cast<unsigned char>(client);
        event.data.connect.dest.port = static_cast<unsigned char>(port);
    } else {
        event.data.addr.client = static_cast<unsigned char>(client);
        event.data.addr.port = static_cast<unsigned char>(port);
    }
    AlsaAddress destination;
    destination.client = 20;
    destination.port = 0;
    AlsaAddress own;
    own.client = 130;
    own.port = 7;
    QCOMPARE(alsaAnnouncesLoss(event, destination, own), lost);
}

QTEST_GUILESS_MAIN(TestStreamAlsaEvents)
#include "tst_stream_alsa_events.moc"
