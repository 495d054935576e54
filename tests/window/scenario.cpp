#include "scenario.h"

#include "device_id.h"
#include "mainwindow.h"
#include "reply_callback.h"
#include "session.h"
#include "upload_check.h"
#include "window_driver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextEdit>
#include <QtTest>
#include <atomic>
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
        image = testImage(row.size);
        writeImage(path, image);
        if (row.file == FileKind::Unreadable)
            ::chmod(qPrintable(path), 0);
        return path;
    }
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
    const bool told = row.when == When::InstrumentSaw || row.when == When::WaitAfterSaw;
    const QStringList tell = {"--tell-at", QString::number(row.at)};
    QVERIFY2(system.startInstrument(row.simOptions + (told ? tell : QStringList())),
             qPrintable(sim.log()));
    QTemporaryDir dir;
    QByteArray image;
    const QString path = makeFile(row, dir, image);
    const auto freePorts = qScopeGuard([&] { system.releasePorts(); });

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

    Clock::time_point struck{};
    bool done = true; // whether the strike did its part: checked afterwards
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
            done = system.cutConnection();
        else if (row.fault == Fault::PortTableFull)
            done = system.occupyPorts(1);
        else if (row.fault == Fault::ShrinkFile)
            QFile::resize(path, 562);
        else if (row.fault == Fault::CloseWindow)
            QVERIFY(!driver.window().close());
        else if (row.fault == Fault::Clicks) // all ignored while the upload runs
            for (const char *name : kButtons)
                driver.widget<QPushButton>(name)->click();
        QFile file(path);
        if (row.fault == Fault::GrowFile && file.open(QIODevice::Append))
            file.write(QByteArray(300, '\x11'));
        if (row.fault == Fault::RewriteFile && file.open(QIODevice::ReadWrite))
            file.write(QByteArray(256, '\x22'));
    };
    // The instrument's word that it has seen the row's piece, from Open on.
    std::atomic<bool> over{false};
    std::thread watcher([&] {
        while (told && !over && !sim.log().contains("SEEN"))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (told && !over && row.when == When::InstrumentSaw)
            strike();
        else if (told && !over)
            QMetaObject::invokeMethod(&driver, strike, Qt::QueuedConnection);
    });
    const auto stopWatching = [&] {
        over = true;
        if (watcher.joinable())
            watcher.join();
    };
    const auto joined = qScopeGuard(stopWatching);

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

    int changes = 0;
    QProgressBar *const bar = driver.widget<QProgressBar>("progressBar");
    QObject::connect(bar, &QProgressBar::valueChanged, &driver, [&] {
        if (row.when == When::BarChange && ++changes == row.at)
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
    // A tool that went on sending to a vanished instrument would send the
    // largest image for about 40 minutes: it is stopped 10 s past the row's
    // bound, and the largest row runs last, so that no row is hidden by it.
    QTimer watchdog;
    watchdog.callOnTimeout([&] { qFatal("%s: still uploading", row.name.constData()); });
    watchdog.start(row.maxMs + 10000);
    const auto pressed = Clock::now();
    driver.upload();
    watchdog.stop();
    const auto ended = lastLine > pressed ? lastLine : Clock::now();
    stopWatching();
    const auto from = struck != Clock::time_point{} && struck > pressed ? struck : pressed;
    const qint64 stallMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(ended - from).count();

    QVERIFY(done);
    // What the user sees.
    const QStringList log = driver.logLines();
    qInfo("log: %s | boxes: %s | stall %lld ms", qPrintable(log.join(" / ")),
          qPrintable(driver.dialogs().messages().join(" / ")), stallMs);
    // Open's version request failed the same way: no upload began, and the
    // instrument holds nothing.
    const QStringList boxes = driver.dialogs().messages();
    if (row.mayFailEarlier && !log.contains("Prepare for update") && boxes.size() == 2 &&
        boxes[0] == "Error: " + row.lastLog.filter("cycle was missed").value(0) &&
        boxes[1] == "Error: Open devices!") {
        qInfo("failed at Open, before the fault's block");
        QCOMPARE(sim.stop(), 0);
        QCOMPARE(sim.summary()["blocks_received"].toInt(), 0);
        return;
    }
    // "Update finished" where the row expects a failure: the log check below
    // ends the row, so whether the instrument holds the whole image (else
    // the tool lied) is checked first. A row that expects it checks the
    // image with the rest of the instrument's copy below.
    if (row.fault == Fault::None && log.contains("Update finished") &&
        !row.lastLog.contains("Update finished")) {
        sim.stop();
        const QString held = heldDifference(sim, image, int(row.size + 255) / 256);
        QVERIFY2(held.isEmpty(), qPrintable("\"Update finished\", but " + held));
    }
    QVERIFY2(row.fault == Fault::None || struck != Clock::time_point{}, "the fault never struck");
    // The rows quote the JACK stream port; another system's port names itself.
    QStringList lastLog = row.lastLog;
    lastLog.replaceInStrings("MidiOutJack::", system.outputClass() + "::");

    QCOMPARE(log.mid(log.size() - lastLog.size()), lastLog);
    if (!row.lastLog.contains("Update finished"))
        QVERIFY(!log.contains("Update finished"));
    QCOMPARE(driver.dialogs().messages(), row.boxes);
    QList<int> progress = row.progress;
    const QList<int> seen = driver.progressValues();
    const bool failedEarlier = row.mayFailEarlier && seen.size() >= 2 &&
                               seen.size() < progress.size() &&
                               seen == progress.mid(0, seen.size() - 1) + QList<int>{0};
    if (failedEarlier) {
        qInfo("failed at block %lld, before the fault's", static_cast<long long>(seen.size() - 1));
        progress = seen;
    }
    QCOMPARE(seen, progress);
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
    if (serverGone) // under the sanitizers and load, its exit has taken over 3 s
        QVERIFY(sim.waitForExit(10000));
    QCOMPARE(sim.isRunning() ? sim.stop() : sim.exitStatus(), serverGone ? 4 << 8 : 0);
    int blocks = row.blocksHeld == kWholeImage ? int(row.size + 255) / 256 : row.blocksHeld;
    const int failed = int(progress.size()) - 1;
    if (failedEarlier || (row.mayFailEarlier && row.blocksHeld == failed)) {
        // The failed block reached the instrument broken, or whole where
        // nothing was lost but the tool could not tell (or, for a row that
        // expects it whole, a late client cost it a piece before the fault);
        // the ones before it whole, none after it.
        blocks = sim.summary()["blocks_received"].toInt();
        QVERIFY2(blocks == failed - 1 || blocks == failed,
                 qPrintable(QString("%1 blocks held, block %2 failed").arg(blocks).arg(failed)));
        QFile received(sim.imagePath());
        QVERIFY(blocks == 0 || received.open(QIODevice::ReadOnly));
        QVERIFY2(blocks == 0 || received.readAll() == image.left(blocks * 256),
                 "the image did not arrive as sent");
    } else {
        const QString difference = heldDifference(sim, image, blocks);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
    const QJsonObject s = sim.summary();
    if (!row.boxes.isEmpty())
        QCOMPARE(s["messages"].toInt(), 1); // the version request only
    if (blocks > 0)
        QCOMPARE(s["block_count"].toInt(), int(row.size + 255) / 256);
    // The pauses at the instrument, in real time: at least 250 ms from its
    // acknowledgement to block 2 and 30 ms from a block's last piece to the
    // next block. Inside a unit the pieces 10 ms apart in its clock, except
    // in the one the tool reported as not played whole.
    const auto within = [&](const char *field, const char *end, double perMs, double least,
                            double most) {
        const double ms = s[field].toObject()[end].toDouble() / perMs;
        QVERIFY2(ms >= least && ms <= most,
                 qPrintable(QString("%1 %2: %3 ms").arg(field, end).arg(ms)));
    };
    if (blocks >= 2) {
        within("pause_after_ack_us", "min", 1000.0, 250.0, 1e9);
        within("pause_after_block_us", "min", 1000.0, 30.0, 1e9);
    }
    const double slack = system.spacingToleranceMicros() / 1000.0;
    if (s["pieces"].toInt() > 1 && log.filter("cycle was missed").isEmpty())
        for (const char *end : {"min", "max"})
            within("in_message_spacing_frames", end, s["sample_rate"].toDouble() / 1000.0,
                   10.0 - slack, 10.0 + slack);
}
