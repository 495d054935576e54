#pragma once

#include "child_process.h"
#include "smf_reader.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// arecordmidi recording what one sequencer port sends, at 40 us a tick (25,000
// ticks per quarter at 60 bpm): the independent witness of the tests that run
// on the kernel's sequencer in the guest.
class SequencerWitness
{
public:
    static constexpr int kTicksPerMs = 25;
    using Unit = std::vector<unsigned char>;
    // The bytes piece k of a unit arrives as.
    using PieceOf = std::function<Unit(const Unit &unit, int k)>;

    // Starts recording `port` ("client:port") into `folder` and waits until
    // the recorder is subscribed to it.
    bool start(const std::string &port, const QString &folder);
    // Stops the recorder and compares what it recorded with `units`: unit i
    // as pieces[i] events with the bytes pieceOf gives, each but the first of
    // a unit [minGapTicks, maxGapTicks] after the one before (gaps unchecked
    // when maxGapTicks is 0; no upper bound for the piece `unbounded` names,
    // unit and piece counted from 0). Returns the first difference, or an
    // empty text.
    QString compare(const std::vector<Unit> &units, const std::vector<int> &pieces,
                    const PieceOf &pieceOf, int minGapTicks, int maxGapTicks,
                    std::pair<size_t, int> unbounded = {SIZE_MAX, 0});
    // Stops the recorder and reads what it recorded. Returns an empty text,
    // or what went wrong.
    QString finish(SmfRecording &recording);

private:
    ChildProcess recorder_;
    QString path_;
};
