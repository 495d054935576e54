#include "simulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QThread>

#include <csignal>

Simulator::Simulator()
{
    logPath_ = dir_.filePath("sim.log");
}

Simulator::~Simulator()
{
    stop();
}

QString Simulator::executable()
{
    const QByteArray buildDir = qgetenv("TARNWICK_BUILD_DIR");
    if (!buildDir.isEmpty()) {
        const QString path = QDir(QString::fromLocal8Bit(buildDir)).filePath("sim/tarnwick-sim");
        if (QFile::exists(path))
            return path;
    }
#ifdef TARNWICK_SIM_EXECUTABLE
    return QStringLiteral(TARNWICK_SIM_EXECUTABLE);
#else
    return QStringLiteral("tarnwick-sim");
#endif
}

bool Simulator::start(const QStringList &args, int timeoutMs)
{
    if (process_.isRunning() || !dir_.isValid())
        return false;
    QStringList all = args;
    summaryPath_ = dir_.filePath("summary.json");
    imagePath_ = dir_.filePath("image.bin");
    const int s = all.indexOf("--summary");
    if (s >= 0 && s + 1 < all.size())
        summaryPath_ = all[s + 1];
    else
        all << "--summary" << summaryPath_;
    const int i = all.indexOf("--image");
    if (i >= 0 && i + 1 < all.size())
        imagePath_ = all[i + 1];
    else
        all << "--image" << imagePath_;
    QFile::remove(summaryPath_);
    QFile::remove(imagePath_);
    clientName_.clear();

    std::vector<std::string> argv{executable().toStdString()};
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

int Simulator::stop(int timeoutMs)
{
    return process_.stop(SIGTERM, timeoutMs);
}

void Simulator::kill()
{
    process_.stop(SIGKILL, 2000);
}

bool Simulator::waitForExit(int timeoutMs)
{
    return process_.waitForExit(timeoutMs);
}

bool Simulator::requestSummary(int timeoutMs)
{
    if (!process_.isRunning())
        return false;
    QFile::remove(summaryPath_);
    ::kill(process_.pid(), SIGUSR1);
    QElapsedTimer timer;
    timer.start();
    // The simulator writes to a temporary name and renames, so the file is
    // complete as soon as it exists.
    while (timer.elapsed() < timeoutMs) {
        if (QFile::exists(summaryPath_))
            return true;
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
