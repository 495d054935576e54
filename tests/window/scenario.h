#pragma once

#include "midi_system.h"

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

// Idle: ports and file open, before Upload FW. VersionQuery: while Open polls
// for the version reply. BeforeAck: block 1 played, the upload polling for its
// acknowledgement. MidUnit: 50 ms after the bar's change. BetweenBlocks: in the
// pause before the block whose value the bar has just taken (the bar shows a
// block's value from the pause before it on).
enum class When
{
    BeforeOpen,
    Idle,
    VersionQuery,
    BeforeAck,
    MidUnit,
    BetweenBlocks
};

constexpr int kWholeImage = -1; // the instrument holds the image byte-exact
constexpr int kNoSummary = -2;  // killed: it cannot say what it held

struct Scenario
{
    const char *name;
    MidiSystems systems;
    bool ownProcess; // the MIDI server dies, or the window closes
    QStringList simOptions;
    FileKind file;
    qint64 size;
    Fault fault;
    When when;
    // Upload faults strike on this change of the progress bar (1: the first).
    int progressChange;
    QStringList lastLog;
    QStringList boxes; // message boxes, "title: text"
    QList<int> progress;
    int blocksHeld;
    // From the fault (or the press of Upload FW) to the end of the upload.
    int minMs, maxMs;
    // A second instrument (tarnwick-sim options on a server's system), attached
    // after the row's own, so that it is listed last. The user chooses the
    // row's instrument in both lists; the second must receive nothing.
    QStringList alsoAttached = {};
};

// Runs one row on a system whose server runs (the window's MIDI clients live
// as long as the process, so one server serves all rows of a process) and
// records failures on the running QtTest function.
void runScenario(const Scenario &row, MidiSystem &system);
