#include "wine_guest.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace {

constexpr int kFirstProgramLimitMs = 60000;
// The server's first write of a changed registry, with room to spare.
constexpr qint64 kFirstSaveMs = 40000;

} // namespace

WineGuest::~WineGuest()
{
    if (serverStarted_)
        QProcess::execute("wineserver", {"-k"});
}

QString WineGuest::start(const QString &folder)
{
    if (!QFile::exists("/dev/snd/seq"))
        return "no ALSA sequencer here: this runs through scripts/guest-run";
    const QString tar = qEnvironmentVariable("TARNWICK_WINE_PREFIX");
    if (!QFile::exists(tar))
        return "TARNWICK_WINE_PREFIX must name the built prefix";
    folder_ = folder;
    // Wine faults when it starts a program from the guest's 9p root: both
    // the prefix and the programs run from the guest's /tmp.
    const QString prefix = folder + "/prefix";
    if (!QDir().mkpath(prefix) || QProcess::execute("tar", {"-C", prefix, "-xf", tar}) != 0)
        return "could not unpack " + tar;
    const QString registry = prefix + "/system.reg";
    const QDateTime unpacked = QFileInfo(registry).lastModified();
    const QString exe = qEnvironmentVariable("TARNWICK_WINE_DRIVER");
    if (!exe.isEmpty()) {
        driver_ = copyIn(exe);
        if (driver_.isEmpty())
            return "could not copy " + exe;
    }
    qputenv("WINEPREFIX", prefix.toLocal8Bit());
    qputenv("WINEDEBUG", "-all");
    qputenv("WINEDLLOVERRIDES", "winemenubuilder.exe=d");
    // The Wine server looks up the time zone once a second. Without TZ, the C
    // library then reads /etc/localtime, which in the guest lies on the 9p
    // root: that stalls the server for 6 to 10 ms, and every timed wait that
    // ends meanwhile (the stream player's too) ends that much late. A zone
    // given in full needs no file.
    qputenv("TZ", "UTC0");
    // One Wine server for all runs: starting it is most of a run's time. The
    // server and the driver run at a real-time priority: Wine's stream player
    // asks for a time-critical thread, which Wine does not give it here, and
    // on the guest's one CPU the recorder and Wine's services would otherwise
    // delay its wake-ups now and then.
    QElapsedTimer server;
    server.start();
    if (QProcess::execute("chrt", {"-f", QString::number(kPriority), "wineserver", "-p"}) != 0)
        return "could not start the Wine server";
    serverStarted_ = true;
    // The first program in a prefix starts Wine's services, which keep the
    // guest's one CPU busy for a while: that happens before the first run.
    // With the driver, its first run also loads winmm and the sequencer driver.
    ChildProcess first;
    const QStringList firstProgram = driver_.isEmpty() ? QStringList{"cmd", "/c", "exit"}
                                                       : QStringList{driver_, "no such device"};
    if (!run(first, firstProgram, folder + "/first.log", false) ||
        !first.waitForExit(kFirstProgramLimitMs))
        return "Wine's first program did not finish";
    // Those services change the registry, which the server writes out every
    // 30 s from its start while changed, stopping everything else for about
    // 150 ms: that write, too, happens before the first run. The programs
    // change nothing, so no further write comes.
    while (QFileInfo(registry).lastModified() == unpacked && server.elapsed() < kFirstSaveMs)
        QThread::msleep(100);
    return {};
}

QString WineGuest::copyIn(const QString &path) const
{
    const QFileInfo source(path);
    const QString copy = folder_ + "/" + source.fileName();
    if (source.isDir()) {
        if (QProcess::execute("cp", {"-r", source.absoluteFilePath(), copy}) != 0)
            return {};
    } else if (!QFile::copy(path, copy)) {
        return {};
    }
    return copy;
}

bool WineGuest::run(ChildProcess &program, const QStringList &argv, const QString &logPath,
                    bool realtime) const
{
    std::vector<std::string> command{"wine"};
    if (realtime)
        command.insert(command.begin(), {"chrt", "-f", std::to_string(kPriority)});
    for (const QString &arg : argv)
        command.push_back(arg.toStdString());
    return program.start(command, logPath.toStdString());
}

bool WineGuest::runDriver(ChildProcess &driver, const QString &device, const QStringList &steps,
                          const QString &logPath) const
{
    return run(driver, QStringList{driver_, device} + steps, logPath);
}
