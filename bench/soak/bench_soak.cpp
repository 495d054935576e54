// Soak: many consecutive uploads through one running window to one running
// simulated instrument on a private JACK server, each done as a user would
// (Refresh, Open, Open FW, Upload FW), each with a fresh random image.
//
// After every upload it checks that the window logged "Update finished" and
// that the instrument received the image byte for byte, and records the
// process's resident memory (VmRSS), its heap in use (mallinfo2) and its open
// file descriptors (/proc/self/fd). A growing descriptor count, a failed or
// inexact upload fails the run (exit 1); memory is reported, first against
// last, together with its growth per upload after the first ten. The log pane
// keeps every line (and the editor's undo history of it), so the heap grows a
// little with each upload; --clear-log empties the pane and its undo history
// after each upload to show what grows apart from it.
//
// Run: build/bench/soak/bench_soak [--clear-log] [uploads] [blocks]
//      (default: 50 uploads of 16 blocks)
#include "midi_system.h"
#include "simulator.h"
#include "window_driver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <malloc.h>
#include <vector>

namespace {

struct Sample
{
    long rssKiB = 0;
    long heapKiB = 0;
    int fds = 0;
};

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int openFds()
{
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int n = 0;
    while (const dirent *entry = readdir(dir))
        n += entry->d_name[0] != '.';
    closedir(dir);
    return n - 1; // the directory's own descriptor
}

Sample sample()
{
    Sample s;
    s.rssKiB = rssKiB();
    s.heapKiB = static_cast<long>(mallinfo2().uordblks / 1024);
    s.fds = openFds();
    return s;
}

QByteArray randomImage(unsigned blocks, unsigned seed)
{
    QByteArray bytes(static_cast<int>(blocks * 256), '\0');
    QRandomGenerator random(seed);
    for (char &b : bytes)
        b = static_cast<char>(random.bounded(256));
    return bytes;
}

// Least-squares slope of y over the samples from index first on.
double slopePerUpload(const std::vector<Sample> &samples, std::size_t first, long Sample::*field)
{
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = first; i < samples.size(); ++i) {
        const double x = static_cast<double>(i);
        const double y = static_cast<double>(samples[i].*field);
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double d = n * sxx - sx * sx;
    return d > 0 ? (n * sxy - sx * sy) / d : 0.0;
}

} // namespace

// Asks the running simulator for a fresh summary (SIGUSR1) and waits up to 2 s
// for it. The simulator writes to a temporary name and renames, so the file is
// complete as soon as it exists.
bool requestSummary(Simulator &sim)
{
    if (!sim.isRunning())
        return false;
    QFile::remove(sim.summaryPath());
    ::kill(sim.pid(), SIGUSR1);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 2000) {
        if (QFile::exists(sim.summaryPath()))
            return true;
        QThread::msleep(5);
    }
    return false;
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool clearLog = args.removeAll(QStringLiteral("--clear-log")) > 0;
    const unsigned uploads = args.size() > 0 ? args[0].toUInt() : 50;
    const unsigned blocks = args.size() > 1 ? args[1].toUInt() : 16;
    if (uploads == 0 || blocks == 0) {
        std::fprintf(stderr, "usage: bench_soak [--clear-log] [uploads] [blocks]\n");
        return 2;
    }

    auto system = MidiSystem::create();
    if (!system->startServer()) {
        std::fprintf(stderr, "no private JACK server could be started\n");
        return 1;
    }
    Simulator sim;
    if (!sim.start()) {
        std::fprintf(stderr, "simulator did not start: %s\n", qPrintable(sim.log()));
        return 1;
    }
    QTemporaryDir dir;
    WindowDriver driver;
    std::printf("%u uploads of %u blocks%s, JACK dummy backend %u Hz, period %u frames\n", uploads,
                blocks, clearLog ? ", log pane cleared after each" : "", 48000u, 128u);
    std::printf("upload  outcome          image       RSS KiB  heap KiB  fds\n");

    std::vector<Sample> samples;
    unsigned failures = 0;
    for (unsigned i = 1; i <= uploads; ++i) {
        const QByteArray image = randomImage(blocks, i);
        const QString path = dir.filePath(QStringLiteral("image-%1.bin").arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        file.close();

        driver.refresh();
        driver.open();
        driver.openFirmware(path);
        driver.upload();
        const QString outcome = driver.logLines().value(driver.logLines().size() - 1);

        bool exact = false;
        if (requestSummary(sim)) {
            QFile received(sim.imagePath());
            exact = received.open(QIODevice::ReadOnly) && received.readAll() == image &&
                    sim.summary().value(QStringLiteral("framing_errors")).toInt(-1) == 0;
        }
        QFile::remove(path);
        const bool ok = exact && outcome == QLatin1String("Update finished");
        failures += ok ? 0 : 1;
        if (clearLog) {
            QTextEdit *logPane = driver.widget<QTextEdit>("textEdit");
            logPane->clear();
            logPane->document()->clearUndoRedoStacks();
        }
        samples.push_back(sample());
        const Sample &s = samples.back();
        std::printf("%6u  %-15s  %-10s  %7ld  %8ld  %3d\n", i, qPrintable(outcome),
                    exact ? "byte-exact" : "WRONG", s.rssKiB, s.heapKiB, s.fds);
        std::fflush(stdout);
    }
    sim.stop();

    const Sample &first = samples.front();
    const Sample &last = samples.back();
    const std::size_t settled = samples.size() > 10 ? 10 : 0;
    std::printf("uploads: %u, failed or inexact: %u\n", uploads, failures);
    std::printf("after upload 1: RSS %ld KiB, heap %ld KiB, %d fds\n", first.rssKiB, first.heapKiB,
                first.fds);
    std::printf("after upload %u: RSS %ld KiB, heap %ld KiB, %d fds\n", uploads, last.rssKiB,
                last.heapKiB, last.fds);
    std::printf("growth per upload from upload %zu on: RSS %.1f KiB, heap %.1f KiB\n", settled + 1,
                slopePerUpload(samples, settled, &Sample::rssKiB),
                slopePerUpload(samples, settled, &Sample::heapKiB));
    const bool fdsGrew = last.fds > first.fds;
    if (fdsGrew)
        std::printf("open file descriptors GREW: %d -> %d\n", first.fds, last.fds);
    return failures == 0 && !fdsGrew ? 0 : 1;
}
