// Full uploads through the real window to the simulated instrument on a
// private JACK server, or on the system TARNWICK_TEST_MIDI names (pipewire:
// run under pw-jack; alsa: inside scripts/guest-run): 16 and 128 blocks. Prints the total time
// against the protocol's floor, the piece spacing the instrument saw, the updater's CPU time during
// the upload and its peak memory.
//
// The floor of an upload of N blocks: 10 intervals of 10 ms inside each block
// (11 pieces), the 250 ms pause after the acknowledgement, 30 ms after each
// middle block, plus the acknowledgement's round trip (measured, not assumed).
//
// Run: build/bench/bench_upload [blocks ...]   (default: 16 128)
#include "midi_system.h"
#include "simulator.h"
#include "window_driver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
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

bool runOne(unsigned blocks, MidiSystem &system)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("image.bin");
    QByteArray bytes(static_cast<int>(blocks * 256), '\0');
    QRandomGenerator random(blocks);
    for (char &b : bytes)
        b = static_cast<char>(random.bounded(256));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();

    Simulator &sim = system.instrument();
    if (!system.startInstrument()) {
        std::fprintf(stderr, "simulator did not start: %s\n", qPrintable(sim.log()));
        return false;
    }
    WindowDriver driver;
    driver.open();
    driver.openFirmware(path);

    const double cpuBefore = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    driver.upload();
    const double totalMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const double cpuMs = (cpuSeconds() - cpuBefore) * 1000.0;
    const QString outcome = driver.logLines().last();
    sim.stop();

    const QJsonObject summary = sim.summary();
    QFile received(sim.imagePath());
    const bool intact = received.open(QIODevice::ReadOnly) && received.readAll() == bytes;
    const QJsonObject spacing = summary.value("piece_spacing_frames").toObject();
    const QJsonObject inMessage = summary.value("in_message_spacing_frames").toObject();
    const double rate = summary.value("sample_rate").toDouble(48000.0);
    const double middle = blocks > 2 ? blocks - 2 : 0;
    const double floorMs = blocks * 100.0 + 250.0 + middle * 30.0;

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
    std::printf("  spacing between any two pieces: min %.3f / median %.3f / max %.3f ms\n",
                spacing.value("min").toDouble() * 1000.0 / rate,
                spacing.value("median").toDouble() * 1000.0 / rate,
                spacing.value("max").toDouble() * 1000.0 / rate);
    std::printf("  updater CPU during the upload %.0f ms (%.2f ms per block, %.1f%% of one core)\n",
                cpuMs, cpuMs / blocks, 100.0 * cpuMs / totalMs);
    std::printf("  updater peak memory %ld KiB\n", peakKiB());
    return intact && outcome == QLatin1String("Update finished");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<unsigned> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QString::fromLocal8Bit(argv[i]).toUInt());
    if (sizes.isEmpty())
        sizes = {16, 128};

    auto system = MidiSystem::create();
    if (!system->startServer()) {
        std::fprintf(stderr, "the %s server could not be started\n",
                     MidiSystem::name(system->kind()));
        return 1;
    }
    if (system->kind() == MidiSystemKind::Alsa)
        std::printf("ALSA sequencer\n");
    else
        std::printf("%s, dummy driver %u Hz, period %u frames\n",
                    system->kind() == MidiSystemKind::Jack ? "jackd" : "PipeWire", 48000u, 128u);
    bool ok = true;
    for (unsigned blocks : sizes)
        ok = runOne(blocks, *system) && ok;
    return ok ? 0 : 1;
}
