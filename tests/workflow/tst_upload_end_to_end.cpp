// Proves that the tool does its whole job: the real window, driven through its
// own buttons, uploads images to the simulated instrument over a private JACK
// server, and the instrument receives every block in sequence with its framing
// intact and the image byte-exact (its first S bytes). Also proves the two ways
// an upload must end as failed rather than claim success: no acknowledgement
// of the first block (only block 1 is sent, about 1000 checks of 5 ms), and an
// instrument that goes away in the middle (the send error's text is logged).
// Every run ends with the file and ports closed and the lists and path cleared.
// Limits: images up to 40 KiB here (about 22 s of upload at the protocol's
// pace); the size boundary and longer runs are measured in bench/.
#include "device_id.h"
#include "firmware_image.h"
#include "jack_server.h"
#include "messages.h"
#include "session_checks.h"
#include "simulator.h"
#include "ui_mainwindow.h"
#include "window_driver.h"

#include <QtTest>

class TestUploadEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fullUpload_data();
    void fullUpload();
    void unacknowledgedUploadFails_data();
    void unacknowledgedUploadFails();
    void instrumentGoneMidUploadFails();

private:
    JackServer server_;
};

void TestUploadEndToEnd::initTestCase()
{
    QVERIFY(server_.start());
}

void TestUploadEndToEnd::fullUpload_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("empty") << qint64(0);
    QTest::newRow("one byte") << qint64(1);
    QTest::newRow("one full block") << qint64(256);
    QTest::newRow("one byte into block 2") << qint64(257);
    QTest::newRow("two full blocks") << qint64(512);
    QTest::newRow("40 KiB") << qint64(40 * 1024 + 77);
}

void TestUploadEndToEnd::fullUpload()
{
    QFETCH(qint64, size);
    const unsigned blocks = blockCountForSize(size);
    FirmwareImage image(size, static_cast<quint32>(size) + 1);
    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));

    WindowDriver driver;
    QCOMPARE(driver.ui().cBInput->currentText(), QStringLiteral("Varnox"));
    QCOMPARE(driver.ui().cBOutput->currentText(), QStringLiteral("Varnox"));
    QCOMPARE(deviceId(), kVarnoxDeviceId);
    driver.openDevicesAndFirmware(image.path());
    QCOMPARE(driver.ui().lineEdit->text(), image.path());
    driver.upload();

    QStringList expectedLog = openedLog("Varnox", "Firmware version 2.1.7");
    expectedLog << "Prepare for update";
    if (blocks > 0)
        expectedLog << "Updating";
    expectedLog << "Update finished";
    QCOMPARE(driver.logLines(), expectedLog);
    QCOMPARE(driver.progressValues(), expectedProgress(blocks));
    QCOMPARE(driver.dialogs().messages(), QStringList());
    const QString problem = sessionClosedProblem(driver);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    QVERIFY(sim.stop() == 0);
    const QJsonObject summary = sim.summary();
    QVERIFY2(summary.value("framing_errors").toInt() == 0,
             QJsonDocument(summary).toJson().constData());
    QCOMPARE(summary.value("version_requests").toInt(), 1);
    QCOMPARE(summary.value("blocks_received").toInt(), static_cast<int>(blocks));
    QCOMPARE(summary.value("acks_sent").toInt(), blocks > 0 ? 1 : 0);
    if (blocks > 0) {
        QCOMPARE(summary.value("block_count").toInt(), static_cast<int>(blocks));
        QCOMPARE(summary.value("piece_spacing_frames").toObject().value("min").toInt(), 480);
        QFile received(sim.imagePath());
        QVERIFY(received.open(QIODevice::ReadOnly));
        const QByteArray bytes = received.readAll();
        QCOMPARE(bytes.size(), static_cast<int>(blocks * kBlockDataSize));
        QVERIFY(bytes.left(static_cast<int>(size)) == image.bytes());
    }
}

void TestUploadEndToEnd::unacknowledgedUploadFails_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("versionLine");
    QTest::newRow("never acknowledges")
        << QStringList{"--no-ack"} << QStringLiteral("Firmware version 2.1.7");
    // Replies carrying the Solune's id are not the Varnox's: both are ignored.
    QTest::newRow("acknowledges with another id")
        << QStringList{"--reply-id", "2"} << QStringLiteral("Version 1.0.X");
}

void TestUploadEndToEnd::unacknowledgedUploadFails()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, versionLine);
    FirmwareImage image(1000, 7);
    Simulator sim;
    QVERIFY2(sim.start(simArgs), qPrintable(sim.log()));

    WindowDriver driver;
    driver.openDevicesAndFirmware(image.path());
    const qint64 ms = driver.timedUpload();

    QCOMPARE(driver.logLines(), openedLog("Varnox", versionLine) << "Prepare for update"
                                                                 << "Update failed");
    // 999 wait steps of 5 ms after block 1 has been played out.
    QVERIFY2(ms >= 4900 && ms < 8000, qPrintable(QString::number(ms)));
    const QString problem = sessionClosedProblem(driver);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    QVERIFY(sim.stop() == 0);
    QCOMPARE(sim.summary().value("blocks_received").toInt(), 1);
    QCOMPARE(sim.summary().value("framing_errors").toInt(), 0);
}

void TestUploadEndToEnd::instrumentGoneMidUploadFails()
{
    FirmwareImage image(10 * 256, 3);
    Simulator sim;
    QVERIFY2(sim.start({"--exit-after-block", "3"}), qPrintable(sim.log()));

    WindowDriver driver;
    driver.openDevicesAndFirmware(image.path());
    const qint64 ms = driver.timedUpload();

    const QStringList log = driver.logLines();
    QVERIFY2(log.size() == 7, qPrintable(log.join(" | ")));
    QCOMPARE(log.mid(0, 5), openedLog("Varnox", "Firmware version 2.1.7") << "Prepare for update"
                                                                          << "Updating");
    // The send's own error text comes before the outcome.
    QVERIFY2(!log.at(5).isEmpty() && !log.at(5).startsWith("Update"), qPrintable(log.at(5)));
    QCOMPARE(log.at(6), QStringLiteral("Update failed"));
    QVERIFY2(ms < 10000, qPrintable(QString::number(ms)));
    const QString problem = sessionClosedProblem(driver);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(sim.waitForExit(3000));
}

QTEST_MAIN(TestUploadEndToEnd)
#include "tst_upload_end_to_end.moc"
