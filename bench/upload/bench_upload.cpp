// Full uploads through the real window (or, with --flash, through
// tarnwick-flash) to the simulated instrument on a private JACK server, or on
// the system TARNWICK_TEST_MIDI names (pipewire: run under pw-jack; alsa:
// inside scripts/guest-run): 16 and 128 blocks. Prints the total time against
// the protocol's floor, the piece spacing the instrument saw, the updater's
// CPU time during the upload and its peak memory.
//
// The floor of an upload of N blocks: 10 intervals of 10 ms inside each block
// (11 pieces), the 250 ms pause after the acknowledgement, 30 ms after each
// middle block, plus the acknowledgement's round trip (measured, not assumed).
//
// tarnwick-flash's upload runs from its "Prepare for update" line to its
// "Update finished" line, as the window's runs from the Upload FW click to its
// end; its CPU time and peak memory are those of the whole program (opening,
// version query and upload), as /usr/bin/time reports them (a child forked
// from this bench would count the bench's own pages in its peak).
//
// Run: build/bench/bench_upload [--flash] [--period F] [blocks ...]   (default: 16 128)
//      xvfb-run -a build/bench/bench_upload --on-x [blocks ...]   (the window on X)
//      build/bench/bench_upload [--flash] [--period F] [--late-cycle N [--late-frames F]]
//                               --repeat N blocks
// The second form uploads N times and counts the outcomes: finished with the
// image byte-exact, failed with a missed MIDI cycle, failed otherwise, and the
// one that must never happen, "finished" with the image not as sent; and how
// many uploads were refused for too short a cycle (PipeWire). --late-cycle and
// --late-frames go to the instrument (tarnwick-sim), which then overruns its
// cycle by 20 ms once in each upload.
// TARNWICK_TEST_MIDI=jack-async or jack-realtime runs them on an asynchronous
// jackd (see tests/support/midi_system.h). --period: the server's period (or
// PipeWire's quantum) in frames, instead of the system's usual one.
#include "midi_system.h"
#include "simulator.h"
#include "window_driver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Upload
{
    double totalMs = 0;
    double cpuMs = 0;
    long peakKiB = 0;
    QStringList log;
    QString outcome;
};

enum class Outcome
{
    Finished,
    MissedCycle,
    OtherFailure,
    FinishedButBroken
};

Upload throughWindow(const QString &path)
{
    WindowDriver driver;
    driver.open();
    driver.openFirmware(path);
    Upload upload;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    driver.upload();
    upload.totalMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    upload.cpuMs = (cpuSeconds() - cpuBefore) * 1000.0;
    upload.peakKiB = peakKiB();
    upload.log = driver.logLines();
    // A refusal is a box, and the log ends with what Open wrote.
    upload.log += driver.dialogs().messages();
    upload.outcome = upload.log.last();
    return upload;
}

Upload throughFlash(const QString &path)
{
    Upload upload;
    const QString usage = path + QStringLiteral(".time");
    QProcess flash;
    flash.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    flash.start(QStringLiteral("/usr/bin/time"),
                {"-f", "%U %S %M", "-o", usage, TARNWICK_FLASH_EXECUTABLE, path});
    QElapsedTimer timer;
    timer.start();
    qint64 preparedNs = -1;
    while (flash.waitForReadyRead(30000) || flash.canReadLine()) {
        while (flash.canReadLine()) {
            const QString line = QString::fromLocal8Bit(flash.readLine()).trimmed();
            upload.log << line;
            if (line == QLatin1String("Prepare for update"))
                preparedNs = timer.nsecsElapsed();
            if (line.startsWith(QLatin1String("Update ")) && preparedNs >= 0) {
                upload.totalMs = static_cast<double>(timer.nsecsElapsed() - preparedNs) / 1e6;
                upload.outcome = line;
            }
        }
    }
    flash.waitForFinished();
    QFile times(usage);
    const QStringList figures = times.open(QIODevice::ReadOnly)
                                    ? QString::fromLatin1(times.readAll()).split(' ')
                                    : QStringList();
    if (figures.size() == 3) {
        upload.cpuMs = (figures[0].toDouble() + figures[1].toDouble()) * 1000.0;
        upload.peakKiB = figures[2].trimmed().toLong();
    }
    if (flash.exitStatus() != QProcess::NormalExit || flash.exitCode() != 0)
        upload.outcome += QStringLiteral(" (exit %1)").arg(flash.exitCode());
    return upload;
}

// brief: one line per upload (for --repeat), otherwise the whole report.
Outcome runOne(unsigned blocks, MidiSystem &system, bool flash, bool brief,
               const QStringList &simOptions, bool *refused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("image.bin");
    QByteArray bytes(static_cast<int>(blocks * 256), '\0');
    QRandomGenerator random(blocks);
    for (char &b : bytes)
        b = static_cast<char>(random.bounded(256));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return Outcome::OtherFailure;
    file.close();

    Simulator &sim = system.instrument();
    if (!system.startInstrument(simOptions)) {
        std::fprintf(stderr, "simulator did not start: %s\n", qPrintable(sim.log()));
        return Outcome::OtherFailure;
    }
    const Upload upload = flash ? throughFlash(path) : throughWindow(path);
    const double totalMs = upload.totalMs;
    const double cpuMs = upload.cpuMs;
    const QString &outcome = upload.outcome;
    sim.stop();

    const QJsonObject summary = sim.summary();
    QFile received(sim.imagePath());
    const bool intact = received.open(QIODevice::ReadOnly) && received.readAll() == bytes;
    const QJsonObject spacing = summary.value("piece_spacing_frames").toObject();
    const QJsonObject inMessage = summary.value("in_message_spacing_frames").toObject();
    const double rate = summary.value("sample_rate").toDouble(48000.0);
    const double middle = blocks > 2 ? blocks - 2 : 0;
    const double floorMs = blocks * 100.0 + 250.0 + middle * 30.0;
    const bool finished = outcome == QLatin1String("Update finished");
    *refused = upload.log.join('\n').contains(QLatin1String("too short a cycle"));
    const Outcome result = finished ? (intact ? Outcome::Finished : Outcome::FinishedButBroken)
                           : upload.log.join('\n').contains("MIDI cycle was missed")
                               ? Outcome::MissedCycle
                               : Outcome::OtherFailure;
    if (brief) {
        const QString reason =
            upload.log.size() > 1 && !finished ? upload.log[upload.log.size() - 2] + " / " : "";
        std::printf("%u blocks: %s%s%s, image %s (%.0f ms; in-message spacing %.3f-%.3f ms)\n",
                    blocks, *refused ? "refused / " : "", qPrintable(reason), qPrintable(outcome),
                    intact ? "byte-exact" : "not as sent", totalMs,
                    inMessage.value("min").toDouble() * 1000.0 / rate,
                    inMessage.value("max").toDouble() * 1000.0 / rate);
        std::fflush(stdout);
        return result;
    }

    std::printf("%u blocks: %s, image %s, %d framing errors\n", blocks, qPrintable(outcome),
                intact ? "byte-exact" : "CORRUPT", summary.value("framing_errors").toInt());
    std::printf("  total %.0f ms; floor without the acknowledgement's round trip %.0f ms; "
                "ratio %.3f; above the floor %.0f ms (%.1f ms per block)\n",
                totalMs, floorMs, totalMs / floorMs, totalMs - floorMs,
                (totalMs - floorMs) / blocks);
    std::printf("  piece spacing inside a message: min %.3f / median %.3f / max %.3f ms\n",
                inMessage.value("min").toDouble() * 1000.0 / rate,
                inMessage.value("median").toDouble() * 1000.0 / rate,
                inMessage.value("max").toDouble() * 1000.0 / rate);
    // From the last piece of one block to the first of the next, beyond the
    // 30 ms pause (left out: the pause after the acknowledgement, and the
    // version request shortly before block 1): what the updater and the MIDI
    // system add. On JACK a block starts on a cycle, so the values lie a
    // period apart; below 30 ms only where the server's cycles caught up.
    const QJsonObject gaps = summary.value("between_message_gaps_frames").toObject();
    QString beyond;
    for (auto it = gaps.begin(); it != gaps.end(); ++it) {
        const double ms = it.key().toDouble() * 1000.0 / rate - 30.0;
        if (ms > -5.0 && ms < 100.0)
            beyond += QString(" +%1 ms x%2").arg(ms, 0, 'f', 3).arg(it.value().toInt());
    }
    std::printf("  from one block to the next, beyond the 30 ms pause:%s\n", qPrintable(beyond));
    const double spanMs = summary.value("first_to_last_piece_ms").toDouble();
    std::printf("  first to last piece at the instrument %.0f ms: ratio %.3f to the floor\n",
                spanMs, spanMs / floorMs);
    std::printf("  spacing between any two pieces: min %.3f / median %.3f / max %.3f ms\n",
                spacing.value("min").toDouble() * 1000.0 / rate,
                spacing.value("median").toDouble() * 1000.0 / rate,
                spacing.value("max").toDouble() * 1000.0 / rate);
    std::printf("  %s CPU %.0f ms (%.2f ms per block, %.1f%% of one core)\n",
                flash ? "tarnwick-flash's whole run:" : "updater during the upload:", cpuMs,
                cpuMs / blocks, 100.0 * cpuMs / totalMs);
    std::printf("  %s peak memory %ld KiB\n",
                flash ? "tarnwick-flash" : "updater (with this bench)", upload.peakKiB);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    // Offscreen unless --on-x: then the window is drawn on the X display
    // of DISPLAY (QT_SCALE_FACTOR=2 draws it as on a 200 % screen).
    bool display = false;
    for (int i = 1; i < argc; ++i)
        display = display || QLatin1String(argv[i]) == QLatin1String("--on-x");
    if (!display)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<unsigned> sizes;
    bool flash = false;
    int repeat = 0;
    unsigned period = 0;
    QStringList simOptions;
    for (int i = 1; i < argc; ++i) {
        if (QLatin1String(argv[i]) == QLatin1String("--flash"))
            flash = true;
        else if (QLatin1String(argv[i]) == QLatin1String("--on-x"))
            continue;
        else if (QLatin1String(argv[i]) == QLatin1String("--repeat") && i + 1 < argc)
            repeat = QString::fromLocal8Bit(argv[++i]).toInt();
        else if (QLatin1String(argv[i]) == QLatin1String("--period") && i + 1 < argc)
            period = QString::fromLocal8Bit(argv[++i]).toUInt();
        else if ((QLatin1String(argv[i]) == QLatin1String("--late-cycle") ||
                  QLatin1String(argv[i]) == QLatin1String("--late-frames")) &&
                 i + 1 < argc) {
            simOptions << QString::fromLocal8Bit(argv[i]);
            simOptions << QString::fromLocal8Bit(argv[++i]);
        } else
            sizes.append(QString::fromLocal8Bit(argv[i]).toUInt());
    }
    if (sizes.isEmpty())
        sizes = {16, 128};

    auto system = MidiSystem::create(period);
    if (!system->startServer()) {
        std::fprintf(stderr, "the %s server could not be started\n",
                     MidiSystem::name(system->kind()));
        return 1;
    }
    if (system->kind() == MidiSystemKind::Alsa)
        std::printf("ALSA sequencer\n");
    else
        std::printf("%s, dummy driver %u Hz, period %u frames\n", MidiSystem::name(system->kind()),
                    48000u, system->periodFrames());
    if (repeat > 0) {
        int counts[4] = {};
        int refusals = 0;
        for (int run = 0; run < repeat; ++run) {
            bool refused = false;
            ++counts[int(runOne(sizes.first(), *system, flash, true, simOptions, &refused))];
            refusals += refused;
        }
        std::printf("%d uploads of %u blocks: %d finished byte-exact, %d failed with a missed "
                    "cycle, %d failed otherwise, %d finished with a broken image; %d refused for "
                    "too short a cycle\n",
                    repeat, sizes.first(), counts[0], counts[1], counts[2], counts[3], refusals);
        return counts[3] == 0 ? 0 : 1;
    }
    bool ok = true;
    for (unsigned blocks : sizes) {
        bool refused = false;
        ok = runOne(blocks, *system, flash, false, simOptions, &refused) == Outcome::Finished && ok;
        if (refused)
            std::printf("  refused for too short a cycle\n");
    }
    return ok ? 0 : 1;
}
