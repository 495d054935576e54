// The window driven through its buttons against the simulated instrument: one
// row per scenario (see scenario.h). Rows whose fault ends the MIDI server or
// closes the window run in their own process: CTest runs "isolated:<row>" once
// per row of TARNWICK_ISOLATED_ROWS, and every other row in one "scenario" run.
#include "mainwindow.h"
#include "scenario.h"

#include <QtTest>
#include <QtWidgets>

Q_DECLARE_METATYPE(const Scenario *)

namespace {

const QString kGone = "MidiOutJack::sendStream: the MIDI destination is gone; the unit was not "
                      "played.";
const QString kStopped = "MidiOutJack::sendStream: the MIDI service has stopped; the unit was not "
                         "played.";
// Once the server has told the tool of its end, the next Refresh joins it afresh.
const QString kRestartAdvice = "The MIDI server stopped while the updater was running: press "
                               "Refresh once it runs again.";
// A synchronous jackd stops its cycles for seconds after a client dies
// without closing: the send ends on its own bound (play time + 2 s).
const QString kNotPlayed = "MidiOutJack::sendStream: the unit was not reported played within "
                           "2110 ms; it may not have been played.";
const QString kChanged = "The firmware file changed during the update.";
const QStringList kFinished = {"Prepare for update", "Updating", "Update finished"};
const QStringList kOpened = {"Opened input port Varnox", "Opened output port Varnox",
                             "Firmware version 2.1.7"};
// Before each of 20 blocks, then 0 at the end.
const QList<int> k20 = {5,  10, 15, 20, 25, 30, 35, 40, 45,  50, 55,
                        60, 65, 70, 75, 80, 85, 90, 95, 100, 0};
constexpr qint64 k20Blocks = 19 * 256 + 156;
const QString kMissed = "MidiOutJack::sendStream: a MIDI cycle was missed; the unit was not played "
                        "whole.";
constexpr MidiSystems kJack = systemBit(MidiSystemKind::Jack);
constexpr MidiSystems kPipeWire = systemBit(MidiSystemKind::PipeWire);
// jackd run asynchronously. PipeWire's libjack tells no client of another's
// overrun, so there the port cannot see the instrument's late cycle.
constexpr MidiSystems kAsyncJackd = kServerSystems & ~kJack & ~kPipeWire;
constexpr MidiSystems kAnnouncing = kPipeWire | systemBit(MidiSystemKind::Alsa);
const QStringList kNoVersion = {"--no-version"};
const QStringList kLateAck = {"--delay-ms", "4000"};

// clang-format off
const Scenario kRows[] = {
    // name, systems, own process, simulator options, file, size, fault, when, on change,
    // last log lines, boxes, progress, blocks held, stall min and max ms. The
    // maxima of rows without a fault catch hangs, not slowness: on a machine
    // loaded far beyond its cores the synchronous server's cycles come late
    // (spacing in frames stays exact, wall time stretches; 3 blocks took 2 s).
    // Nothing to send: refused like a file too large, not "Update finished".
    {"empty image", kAllSystems, false, {}, FileKind::Image, 0, Fault::None, When::Idle, 0,
     kOpened, {"Error: Firmware file is empty!"}, {}, 0, 0, 1000},
    {"one byte", kAllSystems, false, {}, FileKind::Image, 1, Fault::None, When::Idle, 0,
     kFinished, {}, {100, 0}, kWholeImage, 250, 5000},
    {"257 bytes", kAllSystems, false, {}, FileKind::Image, 257, Fault::None, When::Idle, 0,
     kFinished, {}, {50, 100, 0}, kWholeImage, 350, 5000},
    {"20 blocks", kServerSystems, false, {}, FileKind::Image, k20Blocks, Fault::None, When::Idle, 0,
     kFinished, {}, k20, kWholeImage, 2500, 15000},
    {"no version reply", kAllSystems, false, kNoVersion, FileKind::Image, 1, Fault::None,
     When::Idle, 0, {"Version 1.0.X", "Prepare for update", "Updating", "Update finished"}, {},
     {100, 0}, kWholeImage, 250, 5000},
    {"version 3.4.5", kAllSystems, false, {"--version", "3.4.5"}, FileKind::Image, 1, Fault::None,
     When::Idle, 0, {"Firmware version 3.4.5", "Prepare for update", "Updating", "Update finished"},
     {}, {100, 0}, kWholeImage, 250, 5000},
    {"Solune", kAllSystems, false, {"--model", "Solune", "--number", "2"}, FileKind::Image, 768,
     Fault::None, When::Idle, 0, kFinished, {}, {33, 66, 100, 0}, kWholeImage, 400, 5000},
    // A Varnox attached beside it and listed last: the Solune the user opens
    // still gets its own id in the request and every block.
    // On jackd, where ports are listed in the order they were registered.
    {"Solune opened, a Varnox listed after it", kJack, false,
     {"--model", "Solune", "--number", "2"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {"Opened input port Solune", "Opened output port Solune", "Firmware version 2.1.7",
      "Prepare for update", "Updating", "Update finished"}, {}, {33, 66, 100, 0}, kWholeImage,
     400, 5000, {"--model", "Varnox", "--number", "1"}},
    {"unicode path", kAllSystems, false, {}, FileKind::UnicodePath, 300, Fault::None, When::Idle, 0,
     kFinished, {}, {50, 100, 0}, kWholeImage, 350, 5000},
    {"directory", kAllSystems, false, {}, FileKind::Directory, 0, Fault::None, When::Idle, 0,
     kOpened, {"Error: Open file!"}, {}, 0, 0, 1000},
    {"unreadable", kAllSystems, false, {}, FileKind::Unreadable, 600, Fault::None, When::Idle, 0,
     kOpened, {"Error: Open file!"}, {}, 0, 0, 1000},
    {"named pipe", kAllSystems, false, {}, FileKind::NamedPipe, 0, Fault::None, When::Idle, 0,
     kOpened, {"Error: Open file!"}, {}, 0, 0, 1000},
    {"cancelled", kAllSystems, false, {}, FileKind::Cancelled, 0, Fault::None, When::Idle, 0,
     kOpened, {"Error: Open file!"}, {}, 0, 0, 1000},
    {"too large", kAllSystems, false, {}, FileKind::Sparse, 4194049, Fault::None, When::Idle, 0,
     kOpened, {"Error: Firmware file too large!"}, {}, 0, 0, 1000},
    // The largest image is accepted and numbered 1 of 16383; the instrument
    // leaves after block 1 so that the suite does not send the other 16382.
    {"largest", kAllSystems, false, {"--exit-after-block", "1"}, FileKind::Sparse, 4194048,
     Fault::None, When::Idle, 0, {"Updating", kGone, "Update failed"}, {}, {}, 1, 250, 5000},
    {"no acknowledgement", kAllSystems, false, {"--no-ack"}, FileKind::Image, 1000, Fault::None,
     When::Idle, 0, {"Prepare for update", "Update failed"}, {}, {25, 0}, 1, 4900, 9000},
    {"clicks during the upload", kAllSystems, false, {}, FileKind::Image, 768, Fault::Clicks,
     When::BetweenBlocks, 3, kFinished, {}, {33, 66, 100, 0}, kWholeImage, 400, 5000},
    // The image must stay what it was when the upload began: 6 blocks, the
    // file changed after block 2 has been played (block 3 still comes from
    // what the file's buffer read before).
    {"file shrinks", kJack, false, {}, FileKind::Image, 5 * 256 + 100, Fault::ShrinkFile,
     When::BetweenBlocks, 3, {kChanged, "Update failed"}, {}, {16, 33, 50, 0}, 3, 0, 1000},
    {"file grows", kJack, false, {}, FileKind::Image, 5 * 256 + 100, Fault::GrowFile,
     When::BetweenBlocks, 3, {kChanged, "Update failed"}, {}, {16, 33, 50, 66, 83, 100, 0},
     kWholeImage, 400, 3000},
    {"file rewritten in place", kJack, false, {}, FileKind::Image, 5 * 256 + 100,
     Fault::RewriteFile, When::BetweenBlocks, 3, {kChanged, "Update failed"}, {},
     {16, 33, 50, 66, 83, 100, 0}, kWholeImage, 400, 3000},
    {"instrument leaves between blocks", kAllSystems, false, {"--exit-after-block", "3"},
     FileKind::Image, k20Blocks, Fault::None, When::Idle, 0, {kGone, "Update failed"}, {},
     {5, 10, 15, 20, 0}, 3, 0, 2500},
    {"instrument killed mid-unit", kJack, false, {}, FileKind::Image, k20Blocks,
     Fault::KillInstrument, When::MidUnit, 4, {kNotPlayed, "Update failed"}, {},
     {5, 10, 15, 20, 0}, kNoSummary, 0, 7000},
    // Where the system announces a client's exit, the send ends at once.
    {"instrument killed mid-unit, announced", kAnnouncing, false, {}, FileKind::Image, k20Blocks,
     Fault::KillInstrument, When::MidUnit, 4, {kGone, "Update failed"}, {}, {5, 10, 15, 20, 0},
     kNoSummary, 0, 1000},
    // An asynchronous server runs on without a client that overran its cycle:
    // the instrument overruns in the cycle of block 1's sixth piece.
    {"instrument late mid-unit", kAsyncJackd, false, {"--late-cycle", "7"}, FileKind::Image,
     k20Blocks, Fault::None, When::Idle, 0, {"Prepare for update", kMissed, "Update failed"}, {},
     {5, 0}, 0, 0, 1000},
    // The instrument overruns its cycle right after piece k of the first,
    // middle or last block of a three-block image (its --late-cycle counts
    // the version request too): the lost pieces fail that block, and no
    // block follows it. After piece 11 nothing is lost; its notice comes
    // inside the block's last cycles or after them, so either answer is true
    // and no row fixes one.
    {"instrument late after piece 1 of the first block", kAsyncJackd, false,
     {"--late-cycle", "2"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 0}, 0, 0, 1500},
    {"instrument late after piece 6 of the first block", kAsyncJackd, false,
     {"--late-cycle", "7"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 0}, 0, 0, 1500},
    {"instrument late after piece 10 of the first block", kAsyncJackd, false,
     {"--late-cycle", "11"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 0}, 0, 0, 1500},
    {"instrument late after piece 1 of the middle block", kAsyncJackd, false,
     {"--late-cycle", "13"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 66, 0}, 1, 0, 1500},
    {"instrument late after piece 6 of the middle block", kAsyncJackd, false,
     {"--late-cycle", "18"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 66, 0}, 1, 0, 1500},
    {"instrument late after piece 10 of the middle block", kAsyncJackd, false,
     {"--late-cycle", "22"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 66, 0}, 1, 0, 1500},
    {"instrument late after piece 1 of the last block", kAsyncJackd, false,
     {"--late-cycle", "24"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 66, 100, 0}, 2, 0, 1500},
    {"instrument late after piece 6 of the last block", kAsyncJackd, false,
     {"--late-cycle", "29"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 66, 100, 0}, 2, 0, 1500},
    {"instrument late after piece 10 of the last block", kAsyncJackd, false,
     {"--late-cycle", "33"}, FileKind::Image, 768, Fault::None, When::Idle, 0,
     {kMissed, "Update failed"}, {}, {33, 66, 100, 0}, 2, 0, 1500},
    {"connection cut before the acknowledgement", kAllSystems, false, kLateAck, FileKind::Image,
     k20Blocks, Fault::CutConnection, When::BeforeAck, 1, {"Prepare for update",
     "MidiOutJack::checkStream: the MIDI destination is gone.", "Update failed"}, {}, {5, 0}, 1,
     0, 100},
    {"connection cut mid-unit", kAllSystems, false, {}, FileKind::Image, k20Blocks,
     Fault::CutConnection, When::MidUnit, 4, {kGone, "Update failed"}, {}, {5, 10, 15, 20, 0}, 3,
     0, 1000},
    // A refused open: the box keeps its text, the log names the call.
    {"stream port refused", kJack, false, {}, FileKind::Image, 300, Fault::PortTableFull,
     When::BeforeOpen, 0, {"Opened input port Varnox",
     "MidiOutJack::openStreamPort: jack_port_register returned NULL"},
     {"Error: MidiOutJack::openStreamPort: error creating JACK MIDI streaming output port.",
      "Error: Open devices!"}, {}, kNoSummary, 0, 1000},
    {"server killed before Open", kServerSystems, true, {}, FileKind::Image, 300,
     Fault::KillServer, When::BeforeOpen, 0, {kRestartAdvice}, {"Error: MidiInJack::openPort: JACK error creating port", "Error: Open devices!"}, {}, kNoSummary, 0, 1000},
    {"server killed idle", kServerSystems, true, {}, FileKind::Image, k20Blocks, Fault::KillServer,
     When::Idle, 0, {"Prepare for update", kStopped, "Update failed", kRestartAdvice}, {}, {5, 0}, kNoSummary, 0,
     3000},
    {"server killed during the version query", kServerSystems, true, kNoVersion, FileKind::Image,
     k20Blocks, Fault::KillServer, When::VersionQuery, 0,
     {"Version 1.0.X", "Prepare for update", kStopped, "Update failed", kRestartAdvice}, {}, {5, 0}, kNoSummary,
     0, 3000},
    {"server killed before the acknowledgement", kServerSystems, true, kLateAck,
     FileKind::Image, k20Blocks, Fault::KillServer, When::BeforeAck, 1, {"Prepare for update",
     "MidiOutJack::checkStream: the MIDI service has stopped.", "Update failed", kRestartAdvice}, {}, {5, 0}, 1,
     0, 100},
    {"server killed mid-unit", kServerSystems, true, {}, FileKind::Image, k20Blocks,
     Fault::KillServer, When::MidUnit, 4, {kStopped, "Update failed", kRestartAdvice}, {}, {5, 10, 15, 20, 0}, 3,
     0, 3000},
    {"server terminated between blocks", kServerSystems, true, {}, FileKind::Image, k20Blocks,
     Fault::TerminateServer, When::BetweenBlocks, 5, {kStopped, "Update failed", kRestartAdvice}, {},
     {5, 10, 15, 20, 25, 0}, 4, 0, 3000},
    // Refresh while the server is down, then with the server and the instrument back.
    {"server restarted before Refresh", kServerSystems, true, {}, FileKind::Image, k20Blocks,
     Fault::RestartServer, When::BeforeOpen, 0, {"Prepare for update", "Updating",
     "Update finished"}, {}, k20, kWholeImage, 0, 5000},
    {"close during the upload", kJack, true, {}, FileKind::Image, 768, Fault::CloseWindow,
     When::BeforeAck, 1, {"Prepare for update", "Please wait until the update has finished.",
     "Updating", "Update finished"}, {}, {33, 66, 100, 0}, kWholeImage, 400, 5000},
};
// clang-format on

void addRows(bool ownProcess)
{
    QTest::addColumn<const Scenario *>("row");
    const MidiSystemKind here = MidiSystem::selected();
    for (const Scenario &row : kRows) {
        if (row.ownProcess != ownProcess)
            continue;
        if (row.systems & systemBit(here))
            QTest::newRow(row.name) << &row;
        else
            qInfo("row \"%s\" does not apply to %s", row.name, MidiSystem::name(here));
    }
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<MidiSystem> system_;

private slots:
    void initTestCase()
    {
        system_ = MidiSystem::create();
        QVERIFY(system_->startServer());
    }
    void cleanup() { system_->instrument().stop(); }
    void isolatedRowsHaveTheirOwnEntries()
    {
        QStringList table;
        for (const Scenario &row : kRows)
            if (row.ownProcess && (row.systems & systemBit(MidiSystem::selected())))
                table << row.name;
        QCOMPARE(QString(TARNWICK_ISOLATED_ROWS).split('|'), table);
    }
    // Every caption whole with Debian's default Qt font (Sans Serif 9 pt where
    // no desktop sets one), in the window's fixed places.
    void formTextsFit()
    {
        const QFont before = QApplication::font();
        QApplication::setFont(QFont("Sans Serif", 9));
        MainWindow window;
        const auto widgets = window.findChildren<QWidget *>();
        int checked = 0;
        for (QWidget *w : widgets) {
            QRect room;
            QString text;
            if (auto *label = qobject_cast<QLabel *>(w)) {
                room = label->contentsRect();
                text = label->text();
            } else if (auto *button = qobject_cast<QPushButton *>(w)) {
                QStyleOptionButton option;
                option.initFrom(button);
                room =
                    button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
                text = button->text();
            } else {
                continue;
            }
            const QFontMetrics metrics(w->font());
            const QSize needs(metrics.horizontalAdvance(text), metrics.height());
            QVERIFY2(needs.boundedTo(room.size()) == needs,
                     qPrintable(QString("\"%1\" needs %2 x %3 px")
                                    .arg(text)
                                    .arg(needs.width())
                                    .arg(needs.height())));
            ++checked;
        }
        QCOMPARE(checked, 6); // two captions, four buttons
        QApplication::setFont(before);
    }
    void scenario_data() { addRows(false); }
    void scenario()
    {
        QFETCH(const Scenario *, row);
        runScenario(*row, *system_);
    }
    void isolated_data() { addRows(true); }
    void isolated()
    {
        QFETCH(const Scenario *, row);
        runScenario(*row, *system_);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
