#include "scenario.h"

#include "device_id.h"
#include "mainwindow.h"
#include "reply_callback.h"
#include "session.h"
#include "window_driver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextEdit>
#include <QtTest>
#include <csignal>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// "Refresh", "Open", "Open FW", "Upload FW".
const char *const kButtons[] = {"pushButton", "pushButton_2", "pushButton_6", "pushButton_8"};

// The file the row chooses, in a private folder.
QString makeFile(const Scenario &row, QTemporaryDir &dir, QByteArray &image)
{
    QString path = dir.filePath("firmware.bin");
    if (row.file == FileKind::UnicodePath) {
        QDir(dir.path()).mkdir("Fïrmwäre ü");
        path = dir.filePath("Fïrmwäre ü/тест 1 ß.bin");
    }
    QFile file(path);
    switch (row.file) {
    case FileKind::Directory:
        QDir(dir.path()).mkdir("firmware.bin");
        return path;
    case FileKind::NamedPipe:
        mkfifo(qPrintable(path), 0600);
        return path;
    case FileKind::Cancelled:
        return QString();
    case FileKind::Sparse:
        image = QByteArray(int(row.size), '\0');
        file.open(QIODevice::WriteOnly);
        file.resize(row.size);
        return path;
    default:
        for (qint64 i = 0; i < row.size; ++i)
            image.append(char((i * 97 + i / 256 * 31 + 5) & 0xFF));
        file.open(QIODevice::WriteOnly);
        file.write(image);
        file.close();
        if (row.file == FileKind::Unreadable)
            ::chmod(qPrintable(path), 0);
        return path;
    }
}

// The instrument's copy: every block whole, so a short last block carries the
// bytes of the block before it (or zeros when it is the only one) past its end.
QByteArray heldImage(const QByteArray &image)
{
    QByteArray held = image;
    const int tail = image.size() % 256;
    if (tail != 0)
        held += image.size() > 256 ? image.mid(image.size() - 256, 256 - tail)
                                   : QByteArray(256 - tail, '\0');
    return held;
}

// The model word of an instrument started with these tarnwick-sim options.
QString modelOf(const QStringList &simOptions)
{
    const int at = simOptions.indexOf("--model");
    return at >= 0 ? simOptions.value(at + 1) : QString("Varnox");
}

} // namespace

void runScenario(const Scenario &row, MidiSystem &system)
{
    Simulator &sim = system.instrument();
    QVERIFY2(system.startInstrument(row.simOptions), qPrintable(sim.log()));
    QTemporaryDir dir;
    QByteArray image;
    const QString path = makeFile(row, dir, image);

    Clock::time_point struck{};
    bool cut = true; // a thread of ours may strike: checked afterwards
    bool occupied = true;
    const auto freePorts = qScopeGuard([&] { system.releasePorts(); });
    const auto strike = [&] {
        if (struck != Clock::time_point{})
            return;
        struck = Clock::now();
        if (row.fault == Fault::KillInstrument)
            system.killInstrument();
        else if (row.fault == Fault::TerminateServer)
            system.stopServer(SIGTERM);
        else if (row.fault == Fault::KillServer || row.fault == Fault::RestartServer)
            system.stopServer(SIGKILL);
        else if (row.fault == Fault::CutConnection)
            cut = system.cutConnection();
        else if (row.fault == Fault::PortTableFull)
            occupied = system.occupyPorts(1);
        else if (row.fault == Fault::ShrinkFile)
            QFile::resize(path, 562);
        QFile file(path);
        if (row.fault == Fault::GrowFile && file.open(QIODevice::Append))
            file.write(QByteArray(300, '\x11'));
        if (row.fault == Fault::RewriteFile && file.open(QIODevice::ReadWrite))
            file.write(QByteArray(256, '\x22'));
    };

    Simulator second;
    if (!row.alsoAttached.isEmpty())
        QVERIFY2(second.start(row.alsoAttached), qPrintable(second.log()));

    WindowDriver driver;
    if (!row.alsoAttached.isEmpty()) {
        // The other instrument is listed last: an id taken from the last
        // entry rather than the opened one would address it.
        for (const char *list : {"cBInput", "cBOutput"}) {
            QComboBox *const box = driver.widget<QComboBox>(list);
            QCOMPARE(box->count(), 2);
            QCOMPARE(box->itemText(1), modelOf(row.alsoAttached));
            box->setCurrentIndex(box->findText(modelOf(row.simOptions)));
            QCOMPARE(box->currentIndex(), 0);
        }
    }
    if (row.fault != Fault::None && row.when == When::BeforeOpen) {
        strike();
        QTest::qWait(200);
    }
    if (row.fault == Fault::RestartServer) {
        driver.refresh();
        QVERIFY(system.startServer());
        QVERIFY2(system.startInstrument(row.simOptions), qPrintable(sim.log()));
        driver.refresh();
    }
    if (row.fault != Fault::None && row.when == When::VersionQuery) // the poll lasts 1 s
        QTimer::singleShot(400, strike);
    driver.open();
    {
        if (row.file == FileKind::Unreadable) // a root test reads any file
            setfsuid(65534);
        driver.openFirmware(path);
        setfsuid(0);
    }
    if (row.fault != Fault::None && row.when == When::Idle) {
        strike();
        QTest::qWait(200);
    }

    std::thread midUnit;
    int changes = 0;
    QProgressBar *const bar = driver.widget<QProgressBar>("progressBar");
    QObject::connect(bar, &QProgressBar::valueChanged, &driver, [&] {
        if (++changes != row.progressChange)
            return;
        if (row.fault == Fault::CloseWindow)
            QTimer::singleShot(0, &driver, [&] { QVERIFY(!driver.window().close()); });
        else if (row.fault == Fault::Clicks) // all ignored while the upload runs
            QTimer::singleShot(0, &driver, [&] {
                for (const char *name : kButtons)
                    driver.widget<QPushButton>(name)->click();
            });
        else if (row.when == When::MidUnit) // the GUI thread is about to block in the send
            midUnit = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                strike();
            });
        else // the first wait step after this block has been played
            QTimer::singleShot(0, &driver, strike);
    });

    // An acknowledgement left over from before must not count for this upload.
    std::vector<unsigned char> strayAck = {0xF0, static_cast<unsigned char>(deviceId()), 0x05,
                                           0xF7};
    replyCallback(0.0, &strayAck, nullptr);
    driver.clearProgress();
    // A row's stall ends with the upload's "Update failed" or "Update finished",
    // before the ports' close; without one, with the action.
    Clock::time_point lastLine{};
    QTextEdit *const logPane = driver.widget<QTextEdit>("textEdit");
    QObject::connect(logPane, &QTextEdit::textChanged, &driver, [&] {
        const QString text = logPane->toPlainText();
        if (text.endsWith("Update failed") || text.endsWith("Update finished"))
            lastLine = Clock::now();
    });
    const auto pressed = Clock::now();
    driver.upload();
    const auto ended = lastLine > pressed ? lastLine : Clock::now();
    if (midUnit.joinable())
        midUnit.join();
    const auto from = struck != Clock::time_point{} && struck > pressed ? struck : pressed;
    const qint64 stallMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(ended - from).count();

    QVERIFY(cut);
    QVERIFY(occupied);
    // What the user sees.
    const QStringList log = driver.logLines();
    qInfo("log: %s | boxes: %s | stall %lld ms", qPrintable(log.join(" / ")),
          qPrintable(driver.dialogs().messages().join(" / ")), stallMs);
    // The rows quote the JACK stream port; another system's port names itself.
    QStringList lastLog = row.lastLog;
    lastLog.replaceInStrings("MidiOutJack::", system.outputClass() + "::");

    QVERIFY2(log.size() >= lastLog.size(), qPrintable(log.join(" / ")));
    QCOMPARE(log.mid(log.size() - lastLog.size()), lastLog);
    if (!row.lastLog.contains("Update finished"))
        QVERIFY(!log.contains("Update finished"));
    QCOMPARE(driver.dialogs().messages(), row.boxes);
    QCOMPARE(driver.progressValues(), row.progress);
    QVERIFY2(stallMs >= row.minMs && stallMs <= row.maxMs, qPrintable(QString::number(stallMs)));
    for (const char *name : kButtons)
        QVERIFY2(driver.widget<QPushButton>(name)->isEnabled(), name);
    if (log.contains("Prepare for update")) { // the upload ran: all closed and cleared
        QVERIFY(!midi.midiIn.isPortOpen() && !midi.midiOut.isPortOpen() && !firmwareFile.isOpen());
        QCOMPARE(driver.widget<QComboBox>("cBInput")->count() +
                     driver.widget<QComboBox>("cBOutput")->count(),
                 0);
        QCOMPARE(driver.widget<QLineEdit>("lineEdit")->text(), QString());
        QCOMPARE(bar->value(), 0);
    }

    if (!row.alsoAttached.isEmpty()) { // not even the version request
        QCOMPARE(second.stop(), 0);
        QCOMPARE(second.summary()["messages"].toInt(), 0);
    }
    // What the instrument holds.
    if (row.blocksHeld == kNoSummary)
        return;
    // The instrument ends by itself when its server has gone, otherwise on request.
    const bool serverGone = row.fault == Fault::KillServer || row.fault == Fault::TerminateServer;
    if (serverGone)
        QVERIFY(sim.waitForExit(3000));
    QCOMPARE(sim.isRunning() ? sim.stop() : sim.exitStatus(), serverGone ? 4 << 8 : 0);
    const QJsonObject s = sim.summary();
    QVERIFY2(!s.isEmpty(), qPrintable(sim.log()));
    QCOMPARE(s["framing_errors"].toInt(), 0);
    if (!row.boxes.isEmpty())
        QCOMPARE(s["messages"].toInt(), 1); // the version request only
    QFile received(sim.imagePath());
    received.open(QIODevice::ReadOnly);
    const int blocks = row.blocksHeld == kWholeImage ? int(row.size + 255) / 256 : row.blocksHeld;
    QCOMPARE(s["blocks_received"].toInt(), blocks);
    if (blocks > 0)
        QCOMPARE(s["block_count"].toInt(), int(row.size + 255) / 256);
    QVERIFY(received.readAll() == heldImage(image).left(blocks * 256));
    // Inside every unit the pieces come 10 ms apart, in the instrument's clock,
    // except in the unit the tool reported as not played whole.
    const bool unitBroken = !log.filter("cycle was missed").isEmpty();
    if (s["pieces"].toInt() > 1 && !unitBroken) {
        const double rate = s["sample_rate"].toDouble();
        const QJsonObject spacing = s["in_message_spacing_frames"].toObject();
        for (const char *end : {"min", "max"}) {
            const double micros = spacing[end].toDouble() * 1e6 / rate;
            QVERIFY2(qAbs(micros - 10000.0) <= system.spacingToleranceMicros(),
                     qPrintable(QString("%1 %2 us").arg(end).arg(micros)));
        }
    }
}
