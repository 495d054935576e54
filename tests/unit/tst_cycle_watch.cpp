// The JACK stream port's cycle watch on traces recorded from real servers
// (bench/cycle_traces/record_cycle_trace): each trace holds what the port's
// process callback saw, cycle by cycle, while one data block was played with
// one party late, and the answer that the instrument's own record (and
// jack_midi_dump -a beside it) proved. The watch must give that answer.
#include "jack_cycle_watch.h"

#include <QtTest>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Answer = JackCycleWatch::Answer;

struct Trace
{
    QString answer; // "whole" or "not-whole", as the witness proved
    std::vector<JackCycleWatch::Cycle> cycles;
    struct Played
    {
        bool any, first, last; // a piece, the first, the last
    };
    std::vector<Played> played;
    int firstLine = -1, lastLine = -1; // the cycles that played them
};

// Reads a trace; a line it cannot read fails the row.
void readTrace(const QString &path, Trace &trace)
{
    std::ifstream in(path.toStdString());
    QVERIFY2(in, qPrintable("cannot open " + path));
    std::string pieces;
    for (std::string text; std::getline(in, text);) {
        std::istringstream words(text);
        std::string kind, due, played;
        words >> kind;
        if (kind == "answer" && words >> due) {
            trace.answer = QString::fromStdString(due);
        } else if (kind == "pieces") {
            words >> pieces;
        } else if (kind == "c") {
            JackCycleWatch::Cycle c;
            unsigned long long usecs = 0;
            words >> c.startFrame >> c.frames >> usecs >> c.periodUsecs >> c.delayUsecs >>
                c.notices >> due >> played;
            QVERIFY2(words, text.c_str());
            int driverXrun = 0; // not recorded in the oldest traces
            if (words >> driverXrun)
                c.driverXrun = driverXrun != 0;
            c.startUsecs = usecs;
            c.pieceDue = due != "-";
            if (c.pieceDue)
                c.dueFrame = static_cast<uint32_t>(std::stoul(due));
            const bool first = ("," + played + ",").find(",1,") != std::string::npos;
            const bool last = ("," + played + ",").find("," + pieces + ",") != std::string::npos;
            if (first && trace.firstLine < 0)
                trace.firstLine = int(trace.cycles.size());
            if (last && trace.lastLine < 0)
                trace.lastLine = int(trace.cycles.size());
            trace.cycles.push_back(c);
            trace.played.push_back({played != "-", first, last});
        } else {
            QVERIFY2(kind.empty() || kind[0] == '#', text.c_str());
        }
    }
    QVERIFY2(!pieces.empty() && !trace.answer.isEmpty(),
             qPrintable("no pieces or answer in " + path));
}

// Feeds the trace as the process callback does: the cycle's facts first, then
// what it wrote. Returns the first answer given, and the line it came at.
Answer replay(const Trace &trace, int &at)
{
    JackCycleWatch watch;
    for (at = 0; at < int(trace.cycles.size()); ++at) {
        const Answer answer = watch.cycle(trace.cycles[size_t(at)]);
        if (answer != Answer::NotKnownYet)
            return answer;
        const auto [any, first, last] = trace.played[size_t(at)];
        if (any)
            watch.played(first, last);
    }
    return Answer::NotKnownYet;
}

} // namespace

class TestCycleWatch : public QObject
{
    Q_OBJECT

private slots:
    void traces_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("proven");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("holdDelayFigure");
        // Cycles the destination did not finish, from this frame on: the
        // listener did not run in them. The traces were recorded without
        // one; where a row sets them, they are what the fault made sure of.
        QTest::addColumn<uint>("unheardFrom");
        QTest::addColumn<int>("unheardCycles");
        // file, the answer its witness proved (written here as well, so that
        // a trace re-recorded with another outcome cannot pass unseen), the
        // watch's answer. They differ only where a client overran without
        // costing the instrument a piece: xrun notices do not say whose they
        // are, so the watch takes each for the instrument's.
        const char *const rows[][3] = {
            {"nobody-late.trace", "whole", "whole"},
            // Synchronous server, jackd stopped for 20 ms: the graph waits
            // with it; the delay figure changes and the notice is the driver's.
            {"driver-late-after-piece-6.trace", "whole", "whole"},
            // The same on an asynchronous realtime server: the late cycle
            // caught three clients unfinished, three notices, all the driver's.
            {"driver-late-after-piece-6-realtime.trace", "whole", "whole"},
            // Our cycle ran 20 ms long and the server ran cycles without us:
            // the pieces around it came out of step (jack_midi_dump had one
            // 384 frames after the one before, and lost one).
            {"ours-late-after-piece-6.trace", "not-whole", "not-whole"},
            // The instrument missed piece 7 (and, earlier, the driver was
            // late once: that notice must not count).
            {"instrument-late-after-piece-6.trace", "not-whole", "not-whole"},
            {"instrument-late-after-piece-10.trace", "not-whole", "not-whole"},
            // The instrument missed the last piece; the notice comes after it.
            {"instrument-late-before-piece-11.trace", "not-whole", "not-whole"},
            // The instrument had every piece before it overran.
            {"instrument-late-after-piece-11.trace", "whole", "not-whole"},
            // RtMidi's input client overran in its callback.
            {"input-late-after-piece-6.trace", "whole", "not-whole"},
            // Synchronous server, nobody late; the driver reported two short
            // xruns during the unit, each with its notice.
            {"driver-xruns-during-unit.trace", "whole", "whole"},
        };
        for (const auto &row : rows)
            QTest::addRow("%s", row[0])
                << QString(row[0]) << QString(row[1]) << QString(row[2]) << false << 0u << 0;
        // The same two xruns, had the second taken exactly as long as the
        // first: the delay figure stays, and only the server's largest delay
        // (which the port clears) shows the driver's. On the dummy driver both
        // take a few tens of microseconds, and 3 of 141 xruns in one fixture's
        // log took as long as the one before.
        QTest::addRow("driver-xruns-during-unit.trace, the delay figure held")
            << QString("driver-xruns-during-unit.trace") << QString("whole") << QString("whole")
            << true << 0u << 0;
        // The instrument overran by 20 ms in piece 6's cycle (frame 12672)
        // just as the driver was a period late: jackd looks for unfinished
        // clients only in a cycle that begins within two periods of the
        // graph's last move, and the one notice was the driver's. Alone the
        // notices answer "whole"; the instrument finished none of the 8
        // cycles from piece 6's on, so the listener ran in none of them.
        const char *const lie = "instrument-late-after-piece-6-driver-late-too.trace";
        QTest::addRow("%s, notices only", lie)
            << QString(lie) << QString("not-whole") << QString("whole") << false << 0u << 0;
        QTest::addRow("%s, the listener unheard", lie)
            << QString(lie) << QString("not-whole") << QString("not-whole") << false << 12672u << 8;
        // Nobody late, but the listener missed one cycle: between pieces 4
        // and 5 (frames 17664, 18176) nothing was due in it, or the one just
        // before piece 5, which the destination may then read late or twice.
        QTest::addRow("nobody-late.trace, a cycle between pieces unheard")
            << QString("nobody-late.trace") << QString("whole") << QString("whole") << false
            << 17920u << 1;
        QTest::addRow("nobody-late.trace, the cycle before a piece unheard")
            << QString("nobody-late.trace") << QString("whole") << QString("not-whole") << false
            << 18048u << 1;
    }
    void traces()
    {
        QFETCH(QString, file);
        QFETCH(QString, proven);
        QFETCH(QString, expected);
        QFETCH(bool, holdDelayFigure);
        QFETCH(uint, unheardFrom);
        QFETCH(int, unheardCycles);
        Trace trace;
        readTrace(QStringLiteral(TARNWICK_CYCLE_TRACES) + "/" + file, trace);
        if (QTest::currentTestFailed())
            return;
        if (holdDelayFigure)
            for (JackCycleWatch::Cycle &c : trace.cycles)
                c.delayUsecs = trace.cycles.front().delayUsecs;
        // A cycle's fact covers the cycles since our last one began.
        for (JackCycleWatch::Cycle &c : trace.cycles)
            if (c.startFrame > unheardFrom &&
                c.startFrame <= unheardFrom + uint(unheardCycles) * c.frames)
                c.listened = false;
        QCOMPARE(trace.answer, proven);
        QVERIFY(trace.firstLine >= 0 && trace.lastLine >= trace.firstLine);

        int at = 0;
        const Answer answer = replay(trace, at);
        const QString given = answer == Answer::Whole      ? QString("whole")
                              : answer == Answer::NotWhole ? QString("not-whole")
                                                           : QString("not known");
        QCOMPARE(given, expected);
        // "Whole" only once the last piece's cycle is past.
        if (answer == Answer::Whole)
            QVERIFY2(at > trace.lastLine, qPrintable(QString("%1 %2").arg(at).arg(trace.lastLine)));
    }
};

QTEST_GUILESS_MAIN(TestCycleWatch)
#include "tst_cycle_watch.moc"
