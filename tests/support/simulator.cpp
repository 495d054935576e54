#include "simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QThread>

Simulator::Simulator()
{
    logPath_ = dir_.filePath("sim.log");
    summaryPath_ = dir_.filePath("summary.json");
    imagePath_ = dir_.filePath("image.bin");
}

bool Simulator::start(const QStringList &args, int timeoutMs)
{
    if (process_.isRunning() || !dir_.isValid())
        return false;
    const QStringList all = args + QStringList{"--summary", summaryPath_, "--image", imagePath_};
    QFile::remove(summaryPath_);
    QFile::remove(imagePath_);
    clientName_.clear();

    std::vector<std::string> argv{TARNWICK_SIM_EXECUTABLE};
    for (const QString &a : all)
        argv.push_back(a.toStdString());
    if (!process_.start(argv, logPath_.toStdString()))
        return false;

    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        for (const QString &line : log().split('\n')) {
            if (line.startsWith("READY ")) {
                clientName_ = line.mid(6);
                return true;
            }
        }
        if (!process_.isRunning())
            return false;
        QThread::msleep(5);
    }
    return false;
}

QJsonObject Simulator::summary() const
{
    QFile file(summaryPath_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString Simulator::log() const
{
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll());
}
