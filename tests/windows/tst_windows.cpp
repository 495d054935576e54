// The Windows programs as users get them: cross-built by scripts/build-windows
// and run under Wine inside the sequencer guest (scripts/guest-run), where
// Wine's winmm lists the kernel sequencer's ports as MIDI devices, against
// the simulated instrument on the sequencer (tarnwick-sim --alsa). It proves
// that tarnwick-flash.exe finds the instrument by the name Windows gives it,
// reads its version and uploads an image that arrives byte-exact and paced;
// that the window's own code (the headless walk-through, linked from the same
// sources as tarnwick-updater.exe) does the same through its buttons; and that
// the installer installs, runs and uninstalls silently.
//
// Wine's own ways, which the checks allow for and nothing more: it hands each
// piece to the sequencer as a SysEx message of its own and sends controller
// messages when it stops a stream (the instrument runs with --wine-framing,
// which undoes both), and in the guest every winmm program ends with a
// segmentation fault on its way out, so the exit statuses of tarnwick-flash
// (0, 1, 2, 3) say nothing here: a row is judged by what the program printed,
// which differs for each outcome, and by what the instrument holds.
//
// The pacing is checked where the instrument needs it: pieces at least 8 ms
// apart, blocks at least 30 ms. Wine's player on the guest's one emulated CPU
// now and then plays a piece late (12 to 24 ms after the one before): that
// is printed, and tests/wine holds the backend alone to 8 to 12 ms.
#include "midi_system.h"
#include "upload_check.h"
#include "wine_guest.h"

#include <QtTest>

#include <sched.h>

namespace {

constexpr int kProgramLimitMs = 90000;
// Wine's player paces to the millisecond, within about 2 ms.
constexpr int kMinSpacingMicros = 8000;

struct WindowsRow
{
    const char *name;
    int instruments; // 0, 1, or 2 (the second a Solune)
    QStringList simOptions;
    const char *program; // "flash" or "walkthrough"
    QStringList args;    // "FILE" stands for the image
    int blocks;          // of the image, the last one 100 bytes short
    QStringList lines;   // everything the program printed but progress lines
    int blocksHeld;
};

const QStringList kOpened = {"Opened input port Varnox", "Opened output port Varnox",
                             "Firmware version 2.1.7"};
// Wine names a sequencer port "<client> - <port>"; RtMidi adds the device's
// number.
const QString kVarnox = "Varnox 1 - Varnox 1 MIDI 1 1";
const QString kSolune = "Solune 2 - Solune 2 MIDI 1 2";

// clang-format off
const WindowsRow kRows[] = {
    {"list", 1, {}, "flash", {"--list"}, 1,
     {"MIDI API: Windows MultiMedia", kVarnox + ": model Varnox, device id 0x03",
      "  input:  " + kVarnox, "  output: " + kVarnox}, 0},
    {"version only", 1, {}, "flash", {"--version-only"}, 1, kOpened, 0},
    {"upload", 1, {}, "flash", {"FILE"}, 24,
     kOpened + QStringList{"Prepare for update", "Updating", "Update finished"}, 24},
    {"no acknowledgement", 1, {"--no-ack"}, "flash", {"FILE"}, 4,
     kOpened + QStringList{"Prepare for update", "Update failed"}, 1},
    {"no instrument", 0, {}, "flash", {"FILE"}, 1, {"tarnwick-flash: no instrument found"}, 0},
    {"two instruments", 2, {}, "flash", {"FILE"}, 1,
     {"tarnwick-flash: 2 instruments found; name the ports with --input and --output",
      kVarnox + ": model Varnox, device id 0x03", "  input:  " + kVarnox, "  output: " + kVarnox,
      kSolune + ": model Solune, device id 0x02", "  input:  " + kSolune,
      "  output: " + kSolune}, 0},
    {"the window's buttons", 1, {}, "walkthrough", {"FILE"}, 24,
     QStringList{"log: Opened input port Varnox", "log: Opened output port Varnox",
                 "log: Firmware version 2.1.7", "log: Prepare for update", "log: Updating",
                 "log: Update finished"}, 24},
};
// clang-format on

QString folderOf(const char *variable)
{
    return qEnvironmentVariable(variable);
}

// The simulated instrument that answers stands in for hardware with a
// processor of its own. In the guest it shares one CPU with Wine, which runs
// at a real-time priority (WineGuest::kPriority), and so does Wine's desktop
// (explorer.exe), which each run of a program starts and which spends 2 to
// 3 s of CPU starting. At an ordinary priority the instrument waited for it:
// beside a busy host it answered the version request up to 1.4 s late, and
// the program rightly fell back to "Version 1.0.X". At Wine's own priority it
// takes its turn between theirs; above it, it would cut into the stream
// player's.
const sched_param kWinePriority{WineGuest::kPriority};

} // namespace

Q_DECLARE_METATYPE(const WindowsRow *)

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { system_->instrument().stop(); }
    void programs_data();
    void programs();
    void installer();

private:
    QTemporaryDir dir_;
    WineGuest wine_;
    std::unique_ptr<MidiSystem> system_;
    QString flash_, walkthrough_;
};

void TestWindows::initTestCase()
{
    QVERIFY(dir_.isValid());
    const QString problem = wine_.start(dir_.path());
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QString build = folderOf("TARNWICK_WINDOWS_BUILD");
    flash_ = wine_.copyIn(build + "/flash");
    walkthrough_ = wine_.copyIn(build + "/tools/walkthrough");
    QVERIFY2(!flash_.isEmpty() && !walkthrough_.isEmpty(),
             qPrintable("no Windows programs in " + build + ": run scripts/build-windows"));
    system_ = MidiSystem::create();
    QVERIFY(system_->startServer());
}

void TestWindows::programs_data()
{
    QTest::addColumn<const WindowsRow *>("row");
    for (const WindowsRow &row : kRows)
        QTest::newRow(row.name) << &row;
}

void TestWindows::programs()
{
    QFETCH(const WindowsRow *, row);
    Simulator second;
    if (row->instruments >= 1)
        QVERIFY2(system_->startInstrument(row->simOptions + QStringList{"--wine-framing"}),
                 qPrintable(system_->instrument().log()));
    if (row->instruments == 2)
        QVERIFY(second.start({"--alsa", "--wine-framing", "--model", "Solune", "--number", "2"}));
    QVERIFY(row->instruments == 0 ||
            sched_setscheduler(system_->instrument().pid(), SCHED_FIFO, &kWinePriority) == 0);
    const QByteArray image = testImage(row->blocks * 256 - 100);
    QFile file(dir_.filePath("firmware.bin"));
    QVERIFY(writeImage(file.fileName(), image));

    const bool flash = QLatin1String(row->program) == "flash";
    // Wine passes no QT_ variable on to a program, but WINEQT_X reaches it
    // as QT_X: the window's platform without a display.
    qputenv("WINEQT_QPA_PLATFORM", "offscreen");
    QStringList argv{flash ? flash_ + "/tarnwick-flash.exe"
                           : walkthrough_ + "/tarnwick-walkthrough.exe"};
    for (const QString &arg : row->args)
        argv << (arg == "FILE" ? file.fileName() : arg);
    const QString outputPath = dir_.filePath("output.txt");
    ChildProcess program;
    QVERIFY(wine_.run(program, argv, outputPath));
    QVERIFY2(program.waitForExit(kProgramLimitMs), "the program did not finish: it hangs");

    QFile output(outputPath);
    QVERIFY(output.open(QIODevice::ReadOnly));
    // Windows' C runtime ends lines with CR LF. Progress lines are left out,
    // and what Wine and its sound drivers print (a thread id, "wine:", the
    // ALSA library's and PulseAudio's complaints of a guest without sound).
    const QRegularExpression other("^(\\d+% |[0-9a-f]{4}:|wine:|ALSA lib |Failed to (create "
                                   "secure directory|symlink) )");
    QStringList lines;
    for (const QString &line : QString::fromLocal8Bit(output.readAll()).remove('\r').split('\n')) {
        if (!line.isEmpty() && !other.match(line).hasMatch())
            lines << line;
    }
    qInfo("%s", qPrintable(lines.join(" / ")));
    QCOMPARE(lines, row->lines);
    if (row->instruments == 0)
        return;

    Simulator &sim = system_->instrument();
    QCOMPARE(sim.stop(), 0);
    const QString difference = heldDifference(sim, image, row->blocksHeld);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    if (row->blocksHeld < row->blocks)
        return;
    // Pieces inside a block 10 ms apart; the pauses between blocks at least
    // the protocol's (250 ms after the acknowledgement, 30 ms after a block).
    const QJsonObject s = sim.summary();
    const QJsonObject inMessage = s["in_message_spacing_frames"].toObject();
    qInfo("pieces inside a block %d to %d us apart; first to last piece %.0f ms",
          inMessage["min"].toInt(), inMessage["max"].toInt(),
          s["first_to_last_piece_ms"].toDouble());
    const QJsonObject gaps = s["between_message_gaps_frames"].toObject();
    qInfo("gaps %s", QJsonDocument(gaps).toJson(QJsonDocument::Compact).constData());
    QVERIFY(inMessage["min"].toInt() >= kMinSpacingMicros);

    for (auto gap = gaps.begin(); gap != gaps.end(); ++gap)
        QVERIFY2(gap.key().toInt() >= 30000, qPrintable("a pause of " + gap.key() + " us"));
}

void TestWindows::installer()
{
    const QString build = folderOf("TARNWICK_WINDOWS_BUILD");
    const QStringList packages =
        QDir(build).entryList({"tarnwick-updater-*-win64.exe"}, QDir::Files);
    QCOMPARE(packages.size(), 1);
    const QString setup = wine_.copyIn(build + "/" + packages.first());
    QVERIFY(!setup.isEmpty());
    const QString installed = wine_.driveC() + "/Tarnwick";
    ChildProcess install;
    QVERIFY(
        wine_.run(install, {setup, "/S", "/D=C:\\Tarnwick"}, dir_.filePath("install.txt"), false));
    QVERIFY(install.waitForExit(kProgramLimitMs));
    const QString startMenu = wine_.driveC() + "/ProgramData/Microsoft/Windows/Start Menu/Programs/"
                                               "Tarnwick Firmware Updater 0.1.0";
    for (const QString &file :
         {installed + "/tarnwick-updater.exe", installed + "/tarnwick-flash.exe",
          installed + "/Qt5Widgets.dll", installed + "/platforms/qwindows.dll",
          installed + "/Uninstall.exe", startMenu + "/Tarnwick Firmware Updater.lnk"})
        QVERIFY2(QFile::exists(file), qPrintable(file));

    ChildProcess help;
    QVERIFY(wine_.run(help, {"C:\\Tarnwick\\tarnwick-flash.exe", "--help"},
                      dir_.filePath("help.txt"), false));
    QVERIFY(help.waitForExit(kProgramLimitMs));
    QFile helpText(dir_.filePath("help.txt"));
    QVERIFY(helpText.open(QIODevice::ReadOnly));
    const QString printed = QString::fromLocal8Bit(helpText.readAll());
    QVERIFY2(printed.contains("Uploads a firmware image to a Tarnwick Varnox or Solune") &&
                 printed.contains("--version-only"),
             qPrintable(printed));

    ChildProcess uninstall;
    QVERIFY(wine_.run(uninstall, {"C:\\Tarnwick\\Uninstall.exe", "/S"},
                      dir_.filePath("uninstall.txt"), false));
    QVERIFY(uninstall.waitForExit(kProgramLimitMs));
    // The uninstaller copies itself away and goes on from there.
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(installed) && !QFile::exists(startMenu), 20000);
}

QTEST_GUILESS_MAIN(TestWindows)
#include "tst_windows.moc"
