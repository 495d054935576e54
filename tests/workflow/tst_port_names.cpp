// Proves which MIDI port names the tool takes for an instrument, on the names
// that RtMidi really reports on each backend (Windows, JACK, the ALSA
// sequencer, PipeWire's JACK bridge, a2jmidid), and that nothing else is listed:
// other devices, look-alike names, the system's through port and the tool's
// own ports. Also the matching that "Open" uses: the selected model word inside
// the full name, on a supported port only.
#include "port_names.h"

#include <QtTest>

class TestPortNames : public QObject
{
    Q_OBJECT

private slots:
    void modelWord_data();
    void modelWord();
    void matching_data();
    void matching();
};

void TestPortNames::modelWord_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("model");

    QTest::newRow("windows") << "Varnox 1"
                             << "Varnox";
    QTest::newRow("windows solune") << "Solune 2"
                                    << "Solune";
    QTest::newRow("model word alone") << "Solune"
                                      << "Solune";
    QTest::newRow("two spaces after the model word") << "Varnox  1"
                                                     << "Varnox";
    QTest::newRow("jack client named after the device") << "Varnox 1:in"
                                                        << "Varnox";
    QTest::newRow("jack client with suffix") << "Solune 3-01:out"
                                             << "Solune";
    QTest::newRow("alsa sequencer") << "Varnox:Varnox MIDI 1 20:0"
                                    << "Varnox";
    QTest::newRow("pipewire jack bridge") << "Midi-Bridge:Varnox 1:(capture_0) Varnox MIDI 1"
                                          << "Varnox";
    QTest::newRow("a2jmidid") << "a2j:Varnox [20] (capture): Varnox MIDI 1"
                              << "Varnox";
    QTest::newRow("a2jmidid playback") << "a2j:Solune [24] (playback): Solune MIDI 1"
                                       << "Solune";

    QTest::newRow("lower case") << "varnox 1"
                                << "";
    QTest::newRow("model word glued to more") << "Varnox-Desk 1"
                                              << "";
    QTest::newRow("model word not first") << "My Varnox 1"
                                          << "";
    QTest::newRow("leading space") << " Varnox 1"
                                   << "";
    QTest::newRow("alsa through port") << "Midi Through:Midi Through Port-0 14:0"
                                       << "";
    QTest::newRow("model word only in the alsa port part") << "USB Hub:Varnox MIDI 1 24:0"
                                                           << "";
    QTest::newRow("model word only in the bridge's port part")
        << "Midi-Bridge:Hub 2:(capture_0) Varnox MIDI 1"
        << "";
    QTest::newRow("tool's own input") << "RtMidi Input Client:RtMidi Input"
                                      << "";
    QTest::newRow("tool's own stream port") << "Tarnwick Updater:RtMidi Output"
                                            << "";
    QTest::newRow("system audio") << "system:playback_1"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestPortNames::modelWord()
{
    QFETCH(QString, portName);
    QFETCH(QString, model);
    QCOMPARE(modelWordOfPort(portName), model);
}

void TestPortNames::matching_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("matches");

    QTest::newRow("same model") << "Varnox 1:in"
                                << "Varnox" << true;
    QTest::newRow("other model") << "Solune 1:in"
                                 << "Varnox" << false;
    QTest::newRow("selection inside a supported alsa name") << "Varnox:Varnox MIDI 1 20:0"
                                                            << "Varnox" << true;
    QTest::newRow("unsupported port containing the selection") << "My Varnox 1"
                                                               << "Varnox" << false;
    QTest::newRow("case matters") << "Varnox 1"
                                  << "varnox" << false;
    QTest::newRow("supported port, selection elsewhere in the name") << "Solune 1:Varnox bridge"
                                                                     << "Varnox" << true;
}

void TestPortNames::matching()
{
    QFETCH(QString, portName);
    QFETCH(QString, selected);
    QFETCH(bool, matches);
    QCOMPARE(portMatchesSelection(portName, selected), matches);
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_port_names.moc"
