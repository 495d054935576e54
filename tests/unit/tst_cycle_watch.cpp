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

struct Line
{
    JackCycleWatch::Cycle cycle;
    bool first = false;
    bool last = false;
};

struct Trace
{
    QString answer; // "whole" or "not-whole", as the witness proved
    std::vector<Line> lines;
};

// Reads a trace; a line it cannot read fails the row.
bool readTrace(const QString &path, Trace &trace, QString &error)
{
    std::ifstream in(path.toStdString());
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    unsigned pieces = 0;
    int lineNumber = 0;
    for (std::string text; std::getline(in, text);) {
        ++lineNumber;
        std::istringstream words(text);
        std::string kind;
        words >> kind;
        if (kind.empty() || kind[0] == '#')
            continue;
        if (kind == "answer") {
            std::string a;
            words >> a;
            trace.answer = QString::fromStdString(a);
        } else if (kind == "pieces") {
            words >> pieces;
        } else if (kind == "c") {
            Line l;
            unsigned long long usecs = 0;
            std::string due, played;
            words >> l.cycle.startFrame >> l.cycle.frames >> usecs >> l.cycle.periodUsecs >>
                l.cycle.delayUsecs >> l.cycle.notices >> due >> played;
            if (!words) {
                error = QString("line %1 unreadable").arg(lineNumber);
                return false;
            }
            l.cycle.startUsecs = usecs;
            l.cycle.pieceDue = due != "-";
            if (l.cycle.pieceDue)
                l.cycle.dueFrame = static_cast<uint32_t>(std::stoul(due));
            std::istringstream numbers(played);
            for (std::string n; std::getline(numbers, n, ',');) {
                l.first = l.first || n == "1";
                l.last = l.last || n == std::to_string(pieces);
            }
            trace.lines.push_back(l);
        } else {
            error = QString("line %1: unknown '%2'").arg(lineNumber).arg(kind.c_str());
            return false;
        }
    }
    if (pieces == 0 || trace.lines.empty() || trace.answer.isEmpty()) {
        error = "no pieces, cycles or answer in " + path;
        return false;
    }
    return true;
}

// Feeds the trace as the process callback does: the cycle's facts first, then
// what it wrote. Returns the first answer given, and the line it came at.
Answer replay(const Trace &trace, int &at)
{
    JackCycleWatch watch;
    for (at = 0; at < int(trace.lines.size()); ++at) {
        const Line &l = trace.lines[size_t(at)];
        const Answer answer = watch.cycle(l.cycle);
        if (answer != Answer::NotKnownYet)
            return answer;
        if (l.first || l.last)
            watch.played(l.first, l.last);
    }
    return Answer::NotKnownYet;
}

int lineOf(const Trace &trace, bool last)
{
    for (size_t i = 0; i < trace.lines.size(); ++i)
        if (last ? trace.lines[i].last : trace.lines[i].first)
            return int(i);
    return -1;
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
        };
        for (const auto &row : rows)
            QTest::addRow("%s", row[0]) << QString(row[0]) << QString(row[1]) << QString(row[2]);
    }
    void traces()
    {
        QFETCH(QString, file);
        QFETCH(QString, proven);
        QFETCH(QString, expected);
        Trace trace;
        QString error;
        QVERIFY2(readTrace(QStringLiteral(TARNWICK_CYCLE_TRACES) + "/" + file, trace, error),
                 qPrintable(error));
        QCOMPARE(trace.answer, proven);
        const int lastLine = lineOf(trace, true);
        QVERIFY(lineOf(trace, false) >= 0 && lastLine >= lineOf(trace, false));

        int at = 0;
        const Answer answer = replay(trace, at);
        const QString given = answer == Answer::Whole      ? QString("whole")
                              : answer == Answer::NotWhole ? QString("not-whole")
                                                           : QString("not known");
        QCOMPARE(given, expected);
        // "Whole" only once the last piece's cycle is past.
        if (answer == Answer::Whole)
            QVERIFY2(at > lastLine, qPrintable(QString("%1 %2").arg(at).arg(lastLine)));
    }
};

QTEST_GUILESS_MAIN(TestCycleWatch)
#include "tst_cycle_watch.moc"
