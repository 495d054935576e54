// Proves the real tarnwick-updater program starts and ends cleanly: with no
// MIDI server at all and with a JACK server offering an instrument's ports, it
// shows its 650 x 250 window, and closing that window the way a window manager
// does (WM_DELETE_WINDOW, the title bar's close button) ends the process with
// exit code 0 after a teardown whose only RtMidi complaint is the
// cancel-callback warning (no device was opened), with no uncaught exception.
// The program runs unmodified on a private Xvfb display: no test hook in it.
// Limits: no window manager; each run waits at most 10 s for the window and
// 5 s for the exit.
#include "jack_server.h"
#include "x_display.h"

#include <QtTest>

#include <memory>
#include <sys/wait.h>
#include <unistd.h>

class TestUpdaterExit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void closesWithExitCodeZero_data();
    void closesWithExitCodeZero();

private:
    XDisplay display;
};

void TestUpdaterExit::initTestCase()
{
    QVERIFY2(display.start(), "Xvfb did not start");
}

void TestUpdaterExit::closesWithExitCodeZero_data()
{
    QTest::addColumn<bool>("withJack");
    QTest::newRow("no MIDI server") << false;
    QTest::newRow("JACK server with an instrument") << true;
}

void TestUpdaterExit::closesWithExitCodeZero()
{
    QFETCH(bool, withJack);
    std::unique_ptr<JackServer> server;
    std::unique_ptr<ChildProcess> instrument;
    std::string jackServerName = "tarnwick-none-" + std::to_string(getpid());
    if (withJack) {
        server = std::make_unique<JackServer>();
        QVERIFY(server->start());
        jackServerName = server->name();
        // A MIDI input named like an instrument, so the output list has an entry.
        instrument = std::make_unique<ChildProcess>();
        QVERIFY(instrument->start({"jack_midi_dump", "Varnox 1"}, "/dev/null",
                                  {"JACK_DEFAULT_SERVER=" + jackServerName}));
        QTRY_VERIFY_WITH_TIMEOUT(
            jackPorts(jackServerName).find("Varnox 1:input") != std::string::npos, 5000);
    }

    const std::string log =
        QDir::temp().filePath("tarnwick-updater-exit-%1.log").arg(getpid()).toStdString();
    ChildProcess updater;
    QVERIFY(updater.start({TARNWICK_UPDATER_PATH}, log,
                          {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb",
                           "JACK_DEFAULT_SERVER=" + jackServerName}));
    const unsigned long window = display.waitForWindow("Tarnwick Firmware Updater", 10000);
    QVERIFY2(window, "the window did not appear");
    int width = 0, height = 0;
    QVERIFY(display.windowSize(window, &width, &height));
    QCOMPARE(width, 650);
    QCOMPARE(height, 250);
    QVERIFY(updater.isRunning());

    QTest::qWait(300); // let it settle and paint, as a user would look at it
    QVERIFY(display.requestClose(window));
    QVERIFY2(updater.waitForExit(5000), "the program did not end after its window closed");

    QFile file(QString::fromStdString(log));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    file.close();
    QFile::remove(file.fileName());

    const int status = updater.exitStatus();
    QVERIFY2(WIFEXITED(status), written.constData());
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(written.count("RtMidiIn::cancelCallback: no callback function was set!"), 1);
    QVERIFY2(!written.contains("terminate called"), written.constData());
}

QTEST_GUILESS_MAIN(TestUpdaterExit)
#include "tst_updater_exit.moc"
