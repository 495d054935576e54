#include "sequencer_witness.h"

#include <QFile>
#include <QThread>
#include <climits>
#include <csignal>

bool SequencerWitness::start(const std::string &port, const QString &folder)
{
    path_ = folder + "/witness.mid";
    if (!recorder_.start(
            {"arecordmidi", "-p", port, "-t", "25000", "-b", "60", path_.toStdString()},
            (folder + "/arecordmidi.log").toStdString()))
        return false;
    for (int i = 0; i < 300; ++i) {
        QFile clients(QStringLiteral("/proc/asound/seq/clients"));
        if (clients.open(QIODevice::ReadOnly)) {
            const QByteArray text = clients.readAll();
            const int own = text.indexOf("\"arecordmidi\"");
            const int next = text.indexOf("Client ", own + 1);
            if (own >= 0 && text.mid(own, next - own).contains("Connected From:"))
                return true;
        }
        QThread::msleep(10);
    }
    return false;
}

QString SequencerWitness::compare(const std::vector<Unit> &units, const std::vector<int> &pieces,
                                  const PieceOf &pieceOf, int minGapTicks, int maxGapTicks,
                                  std::pair<size_t, int> unbounded)
{
    SmfRecording recording;
    const QString problem = finish(recording);
    if (!problem.isEmpty())
        return problem;
    const auto &events = recording.sysex;
    size_t next = 0;
    for (size_t u = 0; u < units.size(); ++u) {
        for (int k = 0; k < pieces[u]; ++k, ++next) {
            const QString where = QString("unit %1 piece %2").arg(u + 1).arg(k + 1);
            if (next >= events.size())
                return where + QString(": only %1 events recorded").arg(events.size());
            if (events[next].bytes != pieceOf(units[u], k))
                return where + QString(": %1 bytes, not as sent").arg(events[next].bytes.size());
            const auto gap = k > 0 ? int(events[next].tick - events[next - 1].tick) : 0;
            const int maxGap = unbounded == std::make_pair(u, k) ? INT_MAX : maxGapTicks;
            if (maxGapTicks > 0 && k > 0 && (gap < minGapTicks || gap > maxGap))
                return where + QString(": %1 ms after the previous one").arg(gap * 0.04);
        }
    }
    return next == events.size() ? QString()
                                 : QString("%1 events more than sent").arg(events.size() - next);
}

QString SequencerWitness::finish(SmfRecording &recording)
{
    QThread::msleep(50); // the last event reaches the recorder
    if (recorder_.stop(SIGINT) != 0)
        return "arecordmidi failed";
    std::string error;
    if (!readSmfSysex(path_.toStdString(), recording, error))
        return QString::fromStdString(error);
    return {};
}
