// Proves that the firmware file cannot make the tool send a corrupted image and
// call it finished, nor hang or crash it: the file replaced by a new one under
// the same name (the open file keeps being read: the old image arrives whole),
// rewritten in place with other bytes of the same size, truncated to nothing,
// or stripped of its permissions during the upload; and at the choice, a
// directory, an unreadable file, a named pipe, an empty file and a path with
// spaces and non-ASCII characters. The size boundary: 4,194,048 bytes (16383
// blocks) is accepted and numbered 1 of 16383, with the last block's fields
// 16383 of 16383, without sending the whole image (the simulator leaves after
// block 1); one byte more is refused in tst_open_and_refusals.
// Limits: permissions are checked against an unprivileged file-system user
// (setfsuid) because the tests run as root; a read error in the middle of a
// file cannot be produced here without a special file system and is not
// covered beyond the short read that truncation gives.
#include "device_id.h"
#include "fault_report.h"
#include "firmware_image.h"
#include "jack_server.h"
#include "messages.h"
#include "session_checks.h"
#include "shared_objects.h"
#include "simulator.h"
#include "ui_mainwindow.h"
#include "window_driver.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestFaultFirmwareFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileChangedDuringUpload_data();
    void fileChangedDuringUpload();
    void unusableChoiceIsNotOpened_data();
    void unusableChoiceIsNotOpened();
    void namedPipeDoesNotHangTheChoice();
    void emptyFileSendsNothing();
    void pathWithSpacesAndNonAscii();
    void largestImageIsAccepted();

private:
    JackServer server_;
};

namespace {

constexpr qint64 kBlocks = 12;

QString errorBox(const char *text)
{
    return QStringLiteral("Error: ") + QLatin1String(text);
}

// The bytes the simulator wrote as the received image (blocks of 256 bytes).
QByteArray receivedImage(Simulator &sim)
{
    QFile file(sim.imagePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the rest of the enclosing scope as an unprivileged file-system user, on
// this thread only: a root test process otherwise reads any file.
class UnprivilegedFiles
{
public:
    UnprivilegedFiles() { setfsuid(65534); }
    ~UnprivilegedFiles() { setfsuid(0); }
    static bool active() { return setfsuid(-1) == 65534; }
};

} // namespace

void TestFaultFirmwareFile::initTestCase()
{
    QVERIFY(server_.start());
}

void TestFaultFirmwareFile::fileChangedDuringUpload_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("finishes");
    // The open file keeps its bytes; the new file is for the next upload.
    QTest::newRow("replaced under the same name") << "replace" << true;
    QTest::newRow("rewritten in place, same size") << "rewrite" << false;
    QTest::newRow("truncated to nothing") << "truncate" << false;
    // An open descriptor stays readable whatever the permissions become.
    QTest::newRow("permissions removed") << "chmod" << true;
}

void TestFaultFirmwareFile::fileChangedDuringUpload()
{
    QFETCH(QString, change);
    QFETCH(bool, finishes);
    FirmwareImage image(kBlocks * 256 - 30, 31);
    FirmwareImage other(kBlocks * 256 - 30, 32);
    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    WindowDriver driver;
    driver.open();
    driver.openFirmware(image.path());

    bool changed = false;
    QElapsedTimer sinceChange;
    const auto changeFile = [&] {
        sinceChange.start();
        if (change == "replace") {
            changed = ::rename(qPrintable(other.path()), qPrintable(image.path())) == 0;
        } else if (change == "rewrite") {
            QFile file(image.path());
            changed = file.open(QIODevice::ReadWrite) && file.write(other.bytes()) == other.size();
        } else if (change == "truncate") {
            changed = QFile::resize(image.path(), 0);
        } else {
            changed = ::chmod(qPrintable(image.path()), 0) == 0;
        }
    };
    // Block 4's progress (33): the change lands in the pause after block 4.
    connect(driver.ui().progressBar, &QProgressBar::valueChanged, this, [&](int value) {
        if (value == 33 && !changed)
            QTimer::singleShot(0, this, changeFile);
    });
    driver.upload();
    QVERIFY(changed);
    const qint64 ms = sinceChange.elapsed();

    const QStringList log = driver.logLines();
    QCOMPARE(log.last(),
             finishes ? QStringLiteral("Update finished") : QStringLiteral("Update failed"));
    if (!finishes) {
        QVERIFY2(log.at(log.size() - 2).startsWith("The firmware file changed"),
                 qPrintable(log.join(" | ")));
    }
    QVERIFY(sessionClosedProblem(driver).isEmpty());
    QCOMPARE(sim.stop(), 0);
    if (finishes) {
        // What arrived is the image as it was chosen, byte for byte.
        QVERIFY(receivedImage(sim).left(int(image.size())) == image.bytes());
    }
    reportFault(QStringLiteral("firmware file %1 during the upload").arg(QTest::currentDataTag()),
                log.mid(log.size() - 2).join(" / "), ms);
}

void TestFaultFirmwareFile::unusableChoiceIsNotOpened_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("pathShown");
    // The dialog returns a typed directory path like a file's.
    QTest::newRow("a directory") << "directory" << true;
    QTest::newRow("an unreadable file") << "unreadable" << true;
}

void TestFaultFirmwareFile::unusableChoiceIsNotOpened()
{
    QFETCH(QString, kind);
    QFETCH(bool, pathShown);
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther));
    QString path = dir.filePath("firmware.bin");
    if (kind == "directory") {
        QVERIFY(QDir(dir.path()).mkdir("firmware.bin"));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(600, '\x5a')) == 600);
        file.close();
        QVERIFY(::chmod(qPrintable(path), 0) == 0);
    }

    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    WindowDriver driver;
    driver.open();
    {
        UnprivilegedFiles user;
        QVERIFY(UnprivilegedFiles::active());
        driver.openFirmware(path);
    }
    QCOMPARE(driver.ui().lineEdit->text(), pathShown ? path : QString());
    QVERIFY(!firmwareFile.isOpen());
    driver.upload();
    QCOMPARE(driver.dialogs().messages(), QStringList{errorBox("Open file!")});
    // Nothing was sent, and the session stays as it was.
    QVERIFY(midi.midiOut.isPortOpen());
    QVERIFY(sim.requestSummary());
    QCOMPARE(sim.summary().value("messages").toInt(), 1); // the version request
}

void TestFaultFirmwareFile::namedPipeDoesNotHangTheChoice()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("firmware.bin");
    QVERIFY(::mkfifo(qPrintable(path), 0644) == 0);

    // Opening a pipe for reading waits for a writer. If the choice does that,
    // this writer frees it after 3 s, so the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::atomic<bool> freed{false};
    std::thread writer([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!done.load()) {
            if (std::chrono::steady_clock::now() > until) {
                const int fd = ::open(qPrintable(path), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    freed.store(true);
                    ::close(fd);
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    WindowDriver driver;
    QElapsedTimer clock;
    clock.start();
    driver.openFirmware(path);
    const qint64 ms = clock.elapsed();
    done.store(true);
    writer.join();

    QVERIFY2(!freed.load(), qPrintable(QStringLiteral("blocked %1 ms").arg(ms)));
    QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
    QVERIFY(!firmwareFile.isOpen());
    driver.upload(); // the ports are checked first
    QCOMPARE(driver.dialogs().messages(), QStringList{errorBox("Open devices!")});
    reportFault(QStringLiteral("named pipe chosen"), QStringLiteral("not opened"), ms);
}

void TestFaultFirmwareFile::emptyFileSendsNothing()
{
    FirmwareImage image(0, 1);
    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    WindowDriver driver;
    driver.open();
    driver.openFirmware(image.path());
    QVERIFY(firmwareFile.isOpen());
    driver.upload();
    QCOMPARE(driver.logLines().mid(3), (QStringList{"Prepare for update", "Update finished"}));
    QVERIFY(sessionClosedProblem(driver).isEmpty());
    QCOMPARE(sim.stop(), 0);
    QCOMPARE(sim.summary().value("messages").toInt(), 1); // the version request only
}

void TestFaultFirmwareFile::pathWithSpacesAndNonAscii()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Größe Ünits ñ 固件"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/Värnox fw 2.1 — ß.bin");
    FirmwareImage source(3 * 256 + 9, 41);
    QVERIFY(QFile::copy(source.path(), path));

    Simulator sim;
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    WindowDriver driver;
    driver.open();
    driver.openFirmware(path);
    QCOMPARE(driver.ui().lineEdit->text(), path);
    QVERIFY(firmwareFile.isOpen());
    driver.upload();
    QCOMPARE(driver.logLines().last(), QStringLiteral("Update finished"));
    QCOMPARE(sim.stop(), 0);
    QVERIFY(receivedImage(sim).left(int(source.size())) == source.bytes());
}

void TestFaultFirmwareFile::largestImageIsAccepted()
{
    // Sparse: 4 MiB of holes cost nothing on disk.
    QTemporaryDir dir;
    const QString path = dir.filePath("largest.bin");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(kMaxImageSize));
    }
    QCOMPARE(kMaxImageSize, qint64(4194048));
    const unsigned count = blockCountForSize(kMaxImageSize);
    QCOMPARE(count, 16383u);

    // The last block as the transfer builds it: number and count both 16383,
    // nothing wrapped to 0.
    DataBlockBuffer last{};
    const unsigned char data[kBlockDataSize] = {0x80, 0xFF};
    buildDataBlockMessage(last, kVarnoxDeviceId, count, count, data, kBlockDataSize);
    const QByteArray numberAndCount(reinterpret_cast<const char *>(&last[3]), 4);
    QCOMPARE(numberAndCount.toHex(), QByteArray("7f7f7f7f"));
    QCOMPARE(int(last[kDataBlockEndOffset]), int(kSysexEnd));

    // Through the window: not refused, numbered 1 of 16383; the instrument
    // leaves after block 1 so that the whole image is not sent.
    Simulator sim;
    QVERIFY2(sim.start({"--exit-after-block", "1"}), qPrintable(sim.log()));
    WindowDriver driver;
    driver.open();
    driver.openFirmware(path);
    driver.upload();
    QCOMPARE(driver.dialogs().messages(), QStringList());
    QVERIFY(driver.logLines().contains("Prepare for update"));
    QCOMPARE(driver.logLines().last(), QStringLiteral("Update failed"));
    QVERIFY(sim.waitForExit(3000));
    QCOMPARE(sim.summary().value("block_count").toInt(), 16383);
    QCOMPARE(sim.summary().value("blocks_received").toInt(), 1);
    QCOMPARE(sim.summary().value("framing_errors").toInt(), 0);
}

QTEST_MAIN(TestFaultFirmwareFile)
#include "tst_fault_firmware_file.moc"
