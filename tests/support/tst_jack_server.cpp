// Proves the JACK fixture that the MIDI tests stand on: the server it starts
// answers under its private name, the name is exported to the test process, and
// stopping (also by SIGKILL, as a crash would) really ends the server, after
// which a server of the same name starts again in the same slot.
#include "jack_server.h"

#include <QtTest>
#include <cstdlib>
#include <signal.h>

class TestJackServer : public QObject
{
    Q_OBJECT

private slots:
    void startsExportsAndStops();
    void restartsAfterCrash();
};

void TestJackServer::startsExportsAndStops()
{
    JackServer server;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(server.start());
    qInfo("server %s ready after %lld ms", server.name().c_str(),
          static_cast<long long>(timer.elapsed()));
    QCOMPARE(QString::fromLocal8Bit(qgetenv("JACK_DEFAULT_SERVER")),
             QString::fromStdString(server.name()));
    const std::string ports = jackPorts(server.name());
    QVERIFY2(ports.find("system:playback_1") != std::string::npos, ports.c_str());

    const pid_t pid = server.pid();
    server.stop();
    QVERIFY(!server.isRunning());
    QCOMPARE(kill(pid, 0), -1);
    QVERIFY(jackPorts(server.name()).find("system:") == std::string::npos);
}

void TestJackServer::restartsAfterCrash()
{
    JackServer server;
    QVERIFY(server.start());
    const std::string name = server.name();
    server.stop(SIGKILL);
    QVERIFY(!server.isRunning());
    QVERIFY(server.start());
    QCOMPARE(server.name(), name);
    QVERIFY(jackPorts(name).find("system:capture_1") != std::string::npos);
}

QTEST_GUILESS_MAIN(TestJackServer)
#include "tst_jack_server.moc"
