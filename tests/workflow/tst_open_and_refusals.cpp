// Proves what "Refresh" and "Open" do with real instruments on JACK, and the
// refusals of every action. With two instruments of different models the lists
// keep port order, the first entry is current, and the device id comes from the
// supported output port with the highest index whatever is selected (so a
// request may go out with the other model's id and be ignored: the fallback
// follows). A second "Open" changes nothing. The version query waits 200 steps
// of 5 ms (about 1 s) for a reply carrying the current device id. Refusals show
// the "Error" box and leave ports and file as they were; an image one byte
// over 16383 blocks is refused before anything is sent.
#include "device_id.h"
#include "firmware_image.h"
#include "jack_server.h"
#include "messages.h"
#include "reply_flags.h"
#include "session_checks.h"
#include "shared_objects.h"
#include "simulator.h"
#include "ui_mainwindow.h"
#include "window_driver.h"

#include <QtTest>

class TestOpenAndRefusals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void versionQuery_data();
    void versionQuery();
    void twoModels_data();
    void twoModels();
    void refusals();
    void cancelledChoiceClosesTheFile();
    void oversizedImageIsRefusedBeforeSending();

private:
    JackServer server_;
};

namespace {

QString errorBox(const char *text)
{
    return QStringLiteral("Error: ") + QLatin1String(text);
}

} // namespace

void TestOpenAndRefusals::initTestCase()
{
    QVERIFY(server_.start());
}

void TestOpenAndRefusals::versionQuery_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("versionLine");
    QTest::addColumn<bool>("fallback");
    QTest::newRow("reply") << QStringList{"--version", "3.0.12"}
                           << QStringLiteral("Firmware version 3.0.12") << false;
    QTest::newRow("late but in time")
        << QStringList{"--delay-ms", "400"} << QStringLiteral("Firmware version 2.1.7") << false;
    QTest::newRow("malformed reply first")
        << QStringList{"--malformed-first"} << QStringLiteral("Firmware version 2.1.7") << false;
    QTest::newRow("no reply") << QStringList{"--no-version"} << QStringLiteral("Version 1.0.X")
                              << true;
    QTest::newRow("reply with another id")
        << QStringList{"--reply-id", "2"} << QStringLiteral("Version 1.0.X") << true;
    QTest::newRow("too late") << QStringList{"--delay-ms", "1500"}
                              << QStringLiteral("Version 1.0.X") << true;
}

void TestOpenAndRefusals::versionQuery()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, versionLine);
    QFETCH(bool, fallback);
    Simulator sim;
    QVERIFY2(sim.start(simArgs), qPrintable(sim.log()));

    WindowDriver driver;
    QElapsedTimer elapsed;
    elapsed.start();
    driver.open();
    const qint64 ms = elapsed.elapsed();

    QCOMPARE(driver.logLines(), openedLog("Varnox", versionLine));
    QVERIFY(midi.midiIn.isPortOpen());
    QVERIFY(midi.midiOut.isPortOpen());
    if (fallback) {
        QVERIFY2(ms >= 950 && ms < 3000, qPrintable(QString::number(ms)));
        const auto bytes = versionBytes();
        QCOMPARE(int(bytes[0]) * 10000 + int(bytes[1]) * 100 + int(bytes[2]), 10000);
    }
    QVERIFY(sim.requestSummary());
    QCOMPARE(sim.summary().value("version_requests").toInt(), 1);
}

void TestOpenAndRefusals::twoModels_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("expectedId");
    QTest::newRow("Varnox then Solune") << "Varnox"
                                        << "Solune" << kSoluneDeviceId;
    QTest::newRow("Solune then Varnox") << "Solune"
                                        << "Varnox" << kVarnoxDeviceId;
}

void TestOpenAndRefusals::twoModels()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, expectedId);
    Simulator firstSim;
    QVERIFY2(firstSim.start({"--model", first, "--number", "31"}), qPrintable(firstSim.log()));
    Simulator secondSim;
    QVERIFY2(secondSim.start({"--model", second, "--number", "32"}), qPrintable(secondSim.log()));

    WindowDriver driver;
    Ui::MainWindow &ui = driver.ui();
    QCOMPARE(ui.cBOutput->count(), 2);
    QCOMPARE(ui.cBOutput->itemText(0), first);
    QCOMPARE(ui.cBOutput->itemText(1), second);
    QCOMPARE(ui.cBOutput->currentText(), first);
    QCOMPARE(ui.cBInput->currentText(), first);
    QCOMPARE(deviceId(), expectedId);

    // The first model's ports are opened, but the request carries the other
    // model's id: the instrument ignores it and the fallback follows.
    driver.open();
    QCOMPARE(driver.logLines(), openedLog(first, "Version 1.0.X"));

    // A second press while both ports are open changes nothing.
    driver.open();
    QCOMPARE(driver.logLines(), openedLog(first, "Version 1.0.X"));
    QCOMPARE(driver.dialogs().messages(), QStringList());
    QVERIFY(firstSim.requestSummary());
    QCOMPARE(firstSim.summary().value("ignored_messages").toInt(), 1);
    QVERIFY(secondSim.requestSummary());
    QCOMPARE(secondSim.summary().value("messages").toInt(), 0);

    // Selecting the other entry does not change the device id; Refresh makes
    // the first entry current again.
    ui.cBOutput->setCurrentIndex(1);
    QCOMPARE(deviceId(), expectedId);
    driver.refresh();
    QCOMPARE(ui.cBOutput->currentIndex(), 0);
}

void TestOpenAndRefusals::refusals()
{
    FirmwareImage image(300, 5);
    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    WindowDriver driver;

    // Nothing open: the ports are checked before the file.
    driver.upload();
    QCOMPARE(driver.dialogs().messages(), QStringList{errorBox("Open devices!")});

    // A file but no ports: refused, and the file stays open.
    driver.openFirmware(image.path());
    QVERIFY(firmwareFile.isOpen());
    driver.upload();
    QCOMPARE(driver.dialogs().messages().last(), errorBox("Open devices!"));
    QVERIFY(firmwareFile.isOpen());

    // Input ports exist but the input list is empty: nothing is opened.
    driver.dialogs().clear();
    driver.ui().cBInput->clear();
    driver.open();
    QCOMPARE(driver.dialogs().messages(), QStringList{errorBox("No Tarnwick device connected!")});
    QVERIFY(!midi.midiIn.isPortOpen());
    QVERIFY(!midi.midiOut.isPortOpen());

    // Ports open, no file: refused, and the ports stay open.
    driver.refresh();
    driver.open();
    driver.openFirmware(QString()); // cancelled: no file open
    driver.dialogs().clear();
    driver.upload();
    QCOMPARE(driver.dialogs().messages(), QStringList{errorBox("Open file!")});
    QVERIFY(midi.midiIn.isPortOpen());
    QVERIFY(midi.midiOut.isPortOpen());

    // After an upload the lists are empty until Refresh: Open says so.
    driver.openFirmware(image.path());
    driver.upload();
    QCOMPARE(driver.logLines().last(), QStringLiteral("Update finished"));
    driver.dialogs().clear();
    driver.open();
    QCOMPARE(driver.dialogs().messages(), QStringList{errorBox("No Tarnwick device connected!")});
    // The buttons were never left disabled by a refusal.
    QVERIFY(sessionClosedProblem(driver).isEmpty());
}

void TestOpenAndRefusals::cancelledChoiceClosesTheFile()
{
    FirmwareImage first(100, 1);
    FirmwareImage second(200, 2);
    WindowDriver driver;

    driver.openFirmware(first.path());
    QVERIFY(firmwareFile.isOpen());
    driver.openFirmware(second.path());
    QCOMPARE(driver.ui().lineEdit->text(), second.path());
    QCOMPARE(firmwareFile.fileName(), second.path());
    QCOMPARE(firmwareFile.pos(), qint64(0));
    QCOMPARE(firmwareFile.size(), qint64(200));

    driver.openFirmware(QString());
    QVERIFY(driver.ui().lineEdit->text().isEmpty());
    QVERIFY(!firmwareFile.isOpen());
    QCOMPARE(driver.dialogs().fileDialogs().first(),
             QStringLiteral("Open Firmware | Binary files (*.bin)"));
}

void TestOpenAndRefusals::oversizedImageIsRefusedBeforeSending()
{
    // Sparse: 4 MiB of holes cost nothing on disk.
    QTemporaryDir dir;
    const QString path = dir.filePath("too-large.bin");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(kMaxImageSize + 1));
    }
    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    WindowDriver driver;
    driver.open();
    driver.openFirmware(path);
    driver.upload();

    QCOMPARE(driver.dialogs().messages(), QStringList{errorBox("Firmware file too large!")});
    QCOMPARE(driver.logLines(), openedLog("Varnox", "Firmware version 2.1.7"));
    QVERIFY(midi.midiIn.isPortOpen());
    QVERIFY(midi.midiOut.isPortOpen());
    QVERIFY(firmwareFile.isOpen());
    QCOMPARE(driver.ui().lineEdit->text(), path);
    QVERIFY(sim.requestSummary());
    QCOMPARE(sim.summary().value("messages").toInt(), 1); // the version request only
}

QTEST_MAIN(TestOpenAndRefusals)
#include "tst_open_and_refusals.moc"
