// The Windows stream backend's pacing under Wine, in the sequencer guest: the
// driver plays the upload's rhythm (the version request and a block at once,
// blocks after 250 ms, 30 ms and a 1 s idle), then a block right after one,
// then a block whose fifth piece reaches the platform 50 ms late; arecordmidi
// records "Midi Through". Prints, for each block, the gaps between its pieces
// in every run, then the smallest and largest gap per block over all runs.
//
//   export TARNWICK_WINE_DRIVER=build/windows/tools/winmm_stream_driver.exe
//   export TARNWICK_WINE_PREFIX=build/wine/prefix.tar
//   scripts/guest-run --halt-when-idle --realtime -- build/bench/bench_wine_gaps [RUNS]
#include "sequencer_witness.h"
#include "wine_guest.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kDriverLimitMs = 60000;
constexpr size_t kBlockPieces = 11;

const QStringList kSteps{"v", "b1", "p250", "b2", "p30", "b3", "p1000", "b4", "b5", "d5", "b6"};
const char *const kBlocks[] = {"after the request", "after 250 ms", "after 30 ms",
                               "after a 1 s idle",  "right after",  "fifth piece 50 ms late"};
constexpr size_t kBlockCount = sizeof kBlocks / sizeof kBlocks[0];
// The late piece of the last block, counted from 0: its own gap is reported
// apart from the others.
constexpr size_t kLatePiece = 4;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTemporaryDir dir;
    WineGuest wine;
    const QString problem = dir.isValid() ? wine.start(dir.path()) : "no scratch folder";
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "bench_wine_gaps: %s\n", qPrintable(problem));
        return 1;
    }

    // One slot per block, and the last for the late piece's own gap.
    double least[kBlockCount + 1], most[kBlockCount + 1];
    std::fill(least, least + kBlockCount + 1, 1e9);
    std::fill(most, most + kBlockCount + 1, 0.0);
    for (int run = 1; run <= runs; ++run) {
        SequencerWitness witness;
        ChildProcess driver;
        if (!witness.start("Midi Through:0", dir.path()) ||
            !wine.runDriver(driver, "Midi Through", kSteps, dir.filePath("driver.log")) ||
            !driver.waitForExit(kDriverLimitMs)) {
            std::fprintf(stderr, "bench_wine_gaps: run %d: the driver did not run\n", run);
            return 1;
        }
        SmfRecording recording;
        const QString failed = witness.finish(recording);
        // The request, then the blocks' pieces.
        if (!failed.isEmpty() || recording.sysex.size() != 1 + kBlockCount * kBlockPieces) {
            std::fprintf(stderr, "bench_wine_gaps: run %d: %s\n", run,
                         failed.isEmpty() ? "not every piece was recorded" : qPrintable(failed));
            return 1;
        }
        const double msPerTick = 1.0 / SequencerWitness::kTicksPerMs;
        for (size_t b = 0; b < kBlockCount; ++b) {
            std::printf("run %d, block %s:", run, kBlocks[b]);
            for (size_t k = 1; k < kBlockPieces; ++k) {
                const size_t at = 1 + b * kBlockPieces + k;
                const double gap =
                    (recording.sysex[at].tick - recording.sysex[at - 1].tick) * msPerTick;
                std::printf(" %.1f", gap);
                const size_t slot = b == kBlockCount - 1 && k == kLatePiece ? kBlockCount : b;
                least[slot] = std::min(least[slot], gap);
                most[slot] = std::max(most[slot], gap);
            }
            std::printf(" ms\n");
        }
    }
    std::printf("\nGaps between the pieces of a block over %d runs:\n", runs);
    for (size_t b = 0; b < kBlockCount; ++b)
        std::printf("  %-24s %5.1f to %5.1f ms\n", kBlocks[b], least[b], most[b]);
    std::printf("  %-24s %5.1f to %5.1f ms\n", "(the late piece itself)", least[kBlockCount],
                most[kBlockCount]);
    return 0;
}
