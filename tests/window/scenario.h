#pragma once

#include "midi_system.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// One row of the window's scenario table: the instrument, the file chosen, a
// fault and when it strikes, and what the user and the instrument must see.
// Image: `size` bytes of varied data; UnicodePath: the same in a folder and
// under a name with spaces and non-ASCII letters; Sparse: `size` zero bytes
// not written out.
enum class FileKind
{
    Image,
    UnicodePath,
    Directory,
    Unreadable,
    NamedPipe,
    Sparse,
    Cancelled
};

// RestartServer: the server killed, and started again with the instrument;
// CloseWindow: a close request, as from the title bar; Clicks: a click on
// each of the four buttons; ShrinkFile: the image cut to 562 bytes (into its
// third block); GrowFile: 300 bytes appended; RewriteFile: its first 256
// bytes overwritten in place; PortTableFull: the server's port table full
// but for one port (the reply input's), so that the stream port is refused.
enum class Fault
{
    None,
    KillInstrument,
    TerminateServer,
    KillServer,
    RestartServer,
    CutConnection,
    CloseWindow,
    Clicks,
    ShrinkFile,
    GrowFile,
    RewriteFile,
    PortTableFull
};

// Faults strike at a point of the protocol, never after a time. Idle: ports
// and file open, before Upload FW. InstrumentSaw: once the instrument has seen
// its `at`-th piece (tarnwick-sim --tell-at), even while the tool sends.
// WaitAfterSaw: in the tool's first wait step after that (for the version
// request, the poll for its reply, once the send has returned). BarChange: in the first wait step
// after the `at`-th change of the progress bar: the bar takes a block's value
// in the pause before it, so 1 is the acknowledgement wait after block 1, and
// k > 1 the pause before block k.
enum class When
{
    BeforeOpen,
    Idle,
    InstrumentSaw,
    WaitAfterSaw,
    BarChange
};

constexpr int kWholeImage = -1; // the instrument holds the image byte-exact
constexpr int kNoSummary = -2;  // killed: it cannot say what it held

struct Scenario
{
    QByteArray name;
    MidiSystems systems;
    QStringList simOptions;
    FileKind file;
    qint64 size;
    QStringList lastLog;
    QStringList boxes; // message boxes, "title: text"
    QList<int> progress;
    int blocksHeld;
    // From the fault (or the press of Upload FW) to the end of the upload.
    int minMs, maxMs;
    Fault fault = Fault::None;
    When when = When::Idle;
    int at = 0;
    // A second instrument (tarnwick-sim options on a server's system), attached
    // after the row's own, so that it is listed last. The user chooses the
    // row's instrument in both lists; the second must receive nothing.
    QStringList alsoAttached = {};
    // An asynchronous server can fail the upload honestly at an earlier block
    // than the fault's, for a late client of its own: the row then ends there
    // (the bar stopped at an earlier value, the blocks before it held).
    bool mayFailEarlier = false;

    // Rows whose MIDI server dies or whose window closes run in a process of
    // their own.
    bool ownProcess() const
    {
        return fault == Fault::KillServer || fault == Fault::TerminateServer ||
               fault == Fault::RestartServer || fault == Fault::CloseWindow;
    }
};

// Runs one row on a system whose server runs (the window's MIDI clients live
// as long as the process, so one server serves all rows of a process) and
// records failures on the running QtTest function.
void runScenario(const Scenario &row, MidiSystem &system);
