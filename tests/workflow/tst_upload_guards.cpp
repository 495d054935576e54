// Proves the guards around a running action: while "Open" waits for the
// version or an upload runs, the four buttons are disabled (a click does
// nothing) and enabled again afterwards; closing the window during an upload
// is refused with a line in the log and the upload completes intact; a firmware
// file cut short or grown during the upload ends it as "Update failed" (never
// "Update finished" for blocks that were not sent); and an error raised by the
// MIDI layer in an action is shown with its own text while the action's
// openings are undone.
#include "action_errors.h"
#include "firmware_image.h"
#include "jack_server.h"
#include "mainwindow.h"
#include "session_checks.h"
#include "simulator.h"
#include "ui_mainwindow.h"
#include "window_driver.h"

#include <QtTest>

class TestUploadGuards : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buttonsDisabledWhileWaiting();
    void closeRefusedDuringUpload();
    void fileChangedDuringUpload_data();
    void fileChangedDuringUpload();
    void midiErrorEndsTheActionNotTheProgram();

private:
    JackServer server_;
};

namespace {

// The four buttons' enabled states, as "RO FU" letters: upper case = enabled.
QString buttonStates(Ui::MainWindow &ui)
{
    QString s;
    s += ui.pushButton->isEnabled() ? 'R' : 'r';
    s += ui.pushButton_2->isEnabled() ? 'O' : 'o';
    s += ui.pushButton_6->isEnabled() ? 'F' : 'f';
    s += ui.pushButton_8->isEnabled() ? 'U' : 'u';
    return s;
}

} // namespace

void TestUploadGuards::initTestCase()
{
    QVERIFY(server_.start());
}

void TestUploadGuards::buttonsDisabledWhileWaiting()
{
    Simulator sim;
    QVERIFY2(sim.start({"--no-version"}), qPrintable(sim.log()));
    FirmwareImage image(6 * 256, 9);
    WindowDriver driver;
    Ui::MainWindow &ui = driver.ui();
    QCOMPARE(buttonStates(ui), QStringLiteral("ROFU"));

    QString duringOpen;
    QTimer::singleShot(300, this, [&] {
        duringOpen = buttonStates(ui);
        // A click on a disabled button does nothing.
        ui.pushButton_8->click();
        ui.pushButton->click();
    });
    driver.open();
    QCOMPARE(duringOpen, QStringLiteral("rofu"));
    QCOMPARE(driver.logLines(), openedLog("Varnox", "Version 1.0.X"));
    QCOMPARE(ui.cBOutput->count(), 1);
    QCOMPARE(buttonStates(ui), QStringLiteral("ROFU"));

    driver.openFirmware(image.path());
    QString duringUpload;
    QTimer::singleShot(800, this, [&] { duringUpload = buttonStates(ui); });
    driver.upload();
    QCOMPARE(duringUpload, QStringLiteral("rofu"));
    QCOMPARE(driver.logLines().last(), QStringLiteral("Update finished"));
    QCOMPARE(buttonStates(ui), QStringLiteral("ROFU"));
    QCOMPARE(driver.dialogs().messages(), QStringList());
}

void TestUploadGuards::closeRefusedDuringUpload()
{
    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    FirmwareImage image(8 * 256, 11);
    WindowDriver driver;
    driver.openDevicesAndFirmware(image.path());

    bool closed = true;
    bool visibleAfter = false;
    QTimer::singleShot(700, this, [&] {
        closed = driver.window().close();
        visibleAfter = driver.window().isVisible();
    });
    driver.upload();

    QVERIFY(!closed);
    QVERIFY(visibleAfter);
    const QStringList log = driver.logLines();
    QVERIFY2(log.contains("Please wait until the update has finished."), qPrintable(log.join('|')));
    QCOMPARE(log.last(), QStringLiteral("Update finished"));
    QVERIFY(sim.stop() == 0);
    QFile received(sim.imagePath());
    QVERIFY(received.open(QIODevice::ReadOnly));
    QVERIFY(received.readAll() == image.bytes());

    // Once the upload has ended the window closes normally.
    QVERIFY(driver.window().close());
}

void TestUploadGuards::fileChangedDuringUpload_data()
{
    QTest::addColumn<qint64>("newSize");
    QTest::newRow("cut short") << qint64(3 * 256);
    QTest::newRow("cut inside a block") << qint64(5 * 256 + 10);
    QTest::newRow("grown") << qint64(30 * 256);
}

void TestUploadGuards::fileChangedDuringUpload()
{
    QFETCH(qint64, newSize);
    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    FirmwareImage image(20 * 256, 13);
    WindowDriver driver;
    driver.openDevicesAndFirmware(image.path());

    // After the acknowledgement pause, a few blocks into the transfer.
    QTimer::singleShot(900, this, [&] { QFile::resize(image.path(), newSize); });
    driver.upload();

    const QStringList log = driver.logLines();
    QVERIFY2(log.size() >= 2, qPrintable(log.join('|')));
    QCOMPARE(log.last(), QStringLiteral("Update failed"));
    QVERIFY2(!log.contains("Update finished"), qPrintable(log.join('|')));
    QVERIFY2(log.at(log.size() - 2).startsWith("The firmware file changed") ||
                 log.at(log.size() - 2).startsWith("Could not read the firmware file"),
             qPrintable(log.at(log.size() - 2)));
    const QString problem = sessionClosedProblem(driver);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestUploadGuards::midiErrorEndsTheActionNotTheProgram()
{
    WindowDriver driver; // answers the error box
    int cleanups = 0;
    const bool ok = runReportingMidiErrors(
        [] {
            throw RtMidiError("MidiOutJack::openStreamPort: the device went away.",
                              RtMidiError::DRIVER_ERROR);
        },
        [&] {
            ++cleanups;
            throw RtMidiError("closing failed too", RtMidiError::DRIVER_ERROR);
        });
    QVERIFY(!ok);
    QCOMPARE(cleanups, 1);
    // The first error is the one the user sees, however the clean-up went.
    QCOMPARE(driver.dialogs().messages(),
             QStringList{"Error: MidiOutJack::openStreamPort: the device went away."});

    QVERIFY(runReportingMidiErrors([] {}, [&] { ++cleanups; }));
    QCOMPARE(cleanups, 1);
}

QTEST_MAIN(TestUploadGuards)
#include "tst_upload_guards.moc"
