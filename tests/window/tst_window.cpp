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
// jackd run asynchronously. PipeWire's libjack tells no client of another's
// overrun, so there the port cannot see the instrument's late cycle.
constexpr MidiSystems kAsyncJackd =
    systemBit(MidiSystemKind::JackAsync) | systemBit(MidiSystemKind::JackRealtime);
constexpr MidiSystems kAnnouncing = kAllSystems & ~kJack & ~kAsyncJackd;
const QStringList kNoVersion = {"--no-version"};
const QStringList kNoAck = {"--no-ack"};
// The instrument's n-th piece of an upload: the version request is the first,
// and each block of 256 bytes comes in 11.
constexpr int piece(int block, int k)
{
    return 1 + 11 * (block - 1) + k;
}

// clang-format off
const Scenario kRows[] = {
    // name, systems, simulator options, file, size, last log lines, boxes,
    // progress, blocks held, stall min and max ms; then the fault, when it
    // strikes and at which point, and a second instrument. The maxima of rows
    // without a fault catch hangs, not slowness: on a machine loaded far
    // beyond its cores the synchronous server's cycles come late (spacing in
    // frames stays exact, wall time stretches; 3 blocks took 2 s).
    // Nothing to send: refused like a file too large, not "Update finished".
    {"empty image", kAllSystems, {}, FileKind::Image, 0, kOpened,
     {"Error: Firmware file is empty!"}, {}, 0, 0, 1000},
    {"one byte", kAllSystems, {}, FileKind::Image, 1, kFinished, {}, {100, 0}, kWholeImage, 250,
     5000},
    {"257 bytes", kAllSystems, {}, FileKind::Image, 257, kFinished, {}, {50, 100, 0}, kWholeImage,
     350, 5000},
    {"20 blocks", kServerSystems, {}, FileKind::Image, k20Blocks, kFinished, {}, k20, kWholeImage,
     2500, 15000},
    {"no version reply", kAllSystems, kNoVersion, FileKind::Image, 1,
     {"Version 1.0.X", "Prepare for update", "Updating", "Update finished"}, {}, {100, 0},
     kWholeImage, 250, 5000},
    {"version 3.4.5", kAllSystems, {"--version", "3.4.5"}, FileKind::Image, 1,
     {"Firmware version 3.4.5", "Prepare for update", "Updating", "Update finished"}, {},
     {100, 0}, kWholeImage, 250, 5000},
    {"Solune", kAllSystems, {"--model", "Solune", "--number", "2"}, FileKind::Image, 768,
     kFinished, {}, {33, 66, 100, 0}, kWholeImage, 400, 5000},
    // A Varnox attached beside it and listed last: the Solune the user opens
    // still gets its own id in the request and every block.
    // On jackd, where ports are listed in the order they were registered.
    {"Solune opened, a Varnox listed after it", kJack, {"--model", "Solune", "--number", "2"},
     FileKind::Image, 768, {"Opened input port Solune", "Opened output port Solune",
     "Firmware version 2.1.7", "Prepare for update", "Updating", "Update finished"}, {},
     {33, 66, 100, 0}, kWholeImage, 400, 5000, Fault::None, When::Idle, 0,
     {"--model", "Varnox", "--number", "1"}},
    {"unicode path", kAllSystems, {}, FileKind::UnicodePath, 300, kFinished, {}, {50, 100, 0},
     kWholeImage, 350, 5000},
    {"directory", kAllSystems, {}, FileKind::Directory, 0, kOpened, {"Error: Open file!"}, {}, 0,
     0, 1000},
    {"unreadable", kAllSystems, {}, FileKind::Unreadable, 600, kOpened, {"Error: Open file!"}, {},
     0, 0, 1000},
    {"named pipe", kAllSystems, {}, FileKind::NamedPipe, 0, kOpened, {"Error: Open file!"}, {}, 0,
     0, 1000},
    {"cancelled", kAllSystems, {}, FileKind::Cancelled, 0, kOpened, {"Error: Open file!"}, {}, 0,
     0, 1000},
    {"too large", kAllSystems, {}, FileKind::Sparse, 4194049, kOpened,
     {"Error: Firmware file too large!"}, {}, 0, 0, 1000},
    {"no acknowledgement", kAllSystems, kNoAck, FileKind::Image, 1000,
     {"Prepare for update", "Update failed"}, {}, {25, 0}, 1, 4900, 9000},
    {"clicks during the upload", kAllSystems, {}, FileKind::Image, 768, kFinished, {},
     {33, 66, 100, 0}, kWholeImage, 100, 5000, Fault::Clicks, When::BarChange, 3},
    // The image must stay what it was when the upload began: 6 blocks, the
    // file changed after block 2 has been played (block 3 still comes from
    // what the file's buffer read before).
    {"file shrinks", kJack, {}, FileKind::Image, 5 * 256 + 100, {kChanged, "Update failed"}, {},
     {16, 33, 50, 0}, 3, 0, 1000, Fault::ShrinkFile, When::BarChange, 3},
    {"file grows", kJack, {}, FileKind::Image, 5 * 256 + 100, {kChanged, "Update failed"}, {},
     {16, 33, 50, 66, 83, 100, 0}, kWholeImage, 400, 3000, Fault::GrowFile, When::BarChange, 3},
    {"file rewritten in place", kJack, {}, FileKind::Image, 5 * 256 + 100,
     {kChanged, "Update failed"}, {}, {16, 33, 50, 66, 83, 100, 0}, kWholeImage, 400, 3000,
     Fault::RewriteFile, When::BarChange, 3},
    {"instrument leaves between blocks", kAllSystems, {"--exit-after-block", "3"},
     FileKind::Image, k20Blocks, {kGone, "Update failed"}, {}, {5, 10, 15, 20, 0}, 3, 0, 2500},
    // Mid-unit: once the instrument has seen piece 2 of block 4.
    {"instrument killed mid-unit", kJack, {}, FileKind::Image, k20Blocks,
     {kNotPlayed, "Update failed"}, {}, {5, 10, 15, 20, 0}, kNoSummary, 0, 7000,
     Fault::KillInstrument, When::InstrumentSaw, piece(4, 2)},
    // Where the system announces a client's exit, the send ends at once.
    {"instrument killed mid-unit, announced", kAnnouncing, {}, FileKind::Image, k20Blocks,
     {kGone, "Update failed"}, {}, {5, 10, 15, 20, 0}, kNoSummary, 0, 1000,
     Fault::KillInstrument, When::InstrumentSaw, piece(4, 2)},
    // An asynchronous server runs on without a client that overran its cycle:
    // the instrument overruns in the cycle of block 1's sixth piece.
    {"instrument late mid-unit", kAsyncJackd, {"--late-cycle", QString::number(piece(1, 6))},
     FileKind::Image, k20Blocks, {"Prepare for update", kMissed, "Update failed"}, {}, {5, 0}, 0,
     0, 1000, Fault::None, When::Idle, 0, {}, true},
    // Before the acknowledgement: in its wait, after block 1 was played.
    {"connection cut before the acknowledgement", kAllSystems, kNoAck, FileKind::Image,
     k20Blocks, {"Prepare for update", "MidiOutJack::checkStream: the MIDI destination is gone.",
     "Update failed"}, {}, {5, 0}, 1, 0, 100, Fault::CutConnection, When::BarChange, 1},
    {"connection cut mid-unit", kAllSystems, {}, FileKind::Image, k20Blocks,
     {kGone, "Update failed"}, {}, {5, 10, 15, 20, 0}, 3, 0, 1000, Fault::CutConnection,
     When::InstrumentSaw, piece(4, 2)},
    // A refused open: the box keeps its text, the log names the call.
    {"stream port refused", kJack, {}, FileKind::Image, 300, {"Opened input port Varnox",
     "MidiOutJack::openStreamPort: jack_port_register returned NULL"},
     {"Error: MidiOutJack::openStreamPort: error creating JACK MIDI streaming output port.",
      "Error: Open devices!"}, {}, kNoSummary, 0, 1000, Fault::PortTableFull, When::BeforeOpen},
    {"server killed before Open", kServerSystems, {}, FileKind::Image, 300, {kRestartAdvice},
     {"Error: MidiInJack::openPort: JACK error creating port", "Error: Open devices!"}, {},
     kNoSummary, 0, 1000, Fault::KillServer, When::BeforeOpen},
    {"server killed idle", kServerSystems, {}, FileKind::Image, k20Blocks,
     {"Prepare for update", kStopped, "Update failed", kRestartAdvice}, {}, {5, 0}, kNoSummary, 0,
     3000, Fault::KillServer},
    {"server killed during the version query", kServerSystems, kNoVersion, FileKind::Image,
     k20Blocks, {"Version 1.0.X", "Prepare for update", kStopped, "Update failed",
     kRestartAdvice}, {}, {5, 0}, kNoSummary, 0, 3000, Fault::KillServer, When::WaitAfterSaw, 1},
    {"server killed before the acknowledgement", kServerSystems, kNoAck, FileKind::Image,
     k20Blocks, {"Prepare for update", "MidiOutJack::checkStream: the MIDI service has stopped.",
     "Update failed", kRestartAdvice}, {}, {5, 0}, 1, 0, 100, Fault::KillServer, When::BarChange,
     1},
    {"server killed mid-unit", kServerSystems, {}, FileKind::Image, k20Blocks,
     {kStopped, "Update failed", kRestartAdvice}, {}, {5, 10, 15, 20, 0}, 3, 0, 3000,
     Fault::KillServer, When::InstrumentSaw, piece(4, 2)},
    {"server terminated between blocks", kServerSystems, {}, FileKind::Image, k20Blocks,
     {kStopped, "Update failed", kRestartAdvice}, {}, {5, 10, 15, 20, 25, 0}, 4, 0, 3000,
     Fault::TerminateServer, When::BarChange, 5},
    // Refresh while the server is down, then with the server and the instrument back.
    {"server restarted before Refresh", kServerSystems, {}, FileKind::Image, k20Blocks,
     kFinished, {}, k20, kWholeImage, 0, 5000, Fault::RestartServer, When::BeforeOpen},
    {"close during the upload", kJack, {}, FileKind::Image, 768, {"Prepare for update",
     "Please wait until the update has finished.", "Updating", "Update finished"}, {},
     {33, 66, 100, 0}, kWholeImage, 400, 5000, Fault::CloseWindow, When::BarChange, 1},
    // The largest image is accepted and numbered 1 of 16383; the instrument
    // leaves after block 1 so that the suite does not send the other 16382. It
    // runs last: a tool that kept sending would be stopped only by the
    // runner's bound, which ends the process.
    {"largest", kAllSystems, {"--exit-after-block", "1"}, FileKind::Sparse, 4194048,
     {"Updating", kGone, "Update failed"}, {}, {}, 1, 250, 5000},
};

// The instrument overruns its cycle right after piece k of the first, middle
// or last block of a three-block image: the lost pieces fail that block, and
// no block follows it. After piece 11 nothing is lost, but the instrument did
// not finish the last piece's cycle, and whether it read the piece before it
// overran nobody can tell: that block fails too. These come first, so that
// the table's last row runs last.
const std::vector<Scenario> kAll = [] {
    std::vector<Scenario> rows;
    const char *const blocks[] = {"first", "middle", "last"};
    for (int b = 1; b <= 3; ++b)
        for (int k : {1, 6, 10, 11}) {
            rows.push_back({"instrument late after piece " + QByteArray::number(k) + " of the "
                + blocks[b - 1] + " block", kAsyncJackd, {"--late-cycle",
                QString::number(piece(b, k))}, FileKind::Image, 768, {kMissed, "Update failed"},
                {}, QList<int>{33, 66, 100}.mid(0, b) << 0, k == 11 ? b : b - 1, 0, 1500});
            rows.back().mayFailEarlier = true;
        }
    rows.insert(rows.end(), std::begin(kRows), std::end(kRows));
    return rows;
}();
// clang-format on

void addRows(bool ownProcess)
{
    QTest::addColumn<const Scenario *>("row");
    const MidiSystemKind here = MidiSystem::selected();
    for (const Scenario &row : kAll) {
        if (row.ownProcess() != ownProcess)
            continue;
        if (row.systems & systemBit(here))
            QTest::newRow(row.name.constData()) << &row;
        else
            qInfo("row \"%s\" does not apply to %s", row.name.constData(), MidiSystem::name(here));
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
        for (const Scenario &row : kAll)
            if (row.ownProcess() && (row.systems & systemBit(MidiSystem::selected())))
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
    void isolated() { scenario(); }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
