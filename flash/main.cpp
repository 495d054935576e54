// tarnwick-flash: the window's upload from a shell or a script. It finds the
// instrument, opens its ports, asks its version and uploads the image with the
// window's pacing, handshake and checks, printing the window's log texts.
#include "device_id.h"
#include "firmware_transfer.h"
#include "instrument_choice.h"
#include "session.h"
#include "terminal_observer.h"
#include "upload_interrupts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Standard error sent to /dev/null for a while. The session's transport tries
// each MIDI API in turn before main(), and RtMidi's JACK side tries to join
// the server again on every port listing; the APIs that are not running (no
// sequencer, no JACK server) print screens of failures through their
// libraries that a shell user should not have to read. What the program
// finds, it reports itself.
int quietStderr()
{
    const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0)
        dup2(null, STDERR_FILENO);
    if (null >= 0)
        close(null);
    return saved;
}

void restoreStderr(int saved)
{
    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
}

// Before the session's objects are built (default priority), until main().
int stderrBeforeMain = -1;
__attribute__((constructor(101))) void quietBeforeMain()
{
    stderrBeforeMain = quietStderr();
}

// What a script can rely on.
enum ExitStatus
{
    kFinished = 0,
    kFailed = 1,
    kUsage = 2,       // also a file refused
    kNoInstrument = 3 // also ports that could not be opened
};

const char kDescription[] =
    "Uploads a firmware image to a Tarnwick Varnox or Solune over MIDI, as the\n"
    "Tarnwick Firmware Updater's window does: it finds the instrument, opens its\n"
    "ports, prints its firmware version, then sends FILE block by block with the\n"
    "window's pacing and acknowledgement, printing the window's log lines and the\n"
    "progress (a bar on a terminal, otherwise a line per 10 %).\n"
    "\n"
    "Without --input and --output the only instrument found is used; --list shows\n"
    "the names. A NAME is a port's name as --list shows it, or a part of it that\n"
    "only one port's name contains; a side not named takes the same instrument's\n"
    "port.\n"
    "\n"
    "Ctrl-C (SIGINT) or SIGTERM during the upload does not stop it: a block is\n"
    "never cut in half, and the answer is \"Please wait until the update has\n"
    "finished.\". A second Ctrl-C within 2 seconds stops the upload after the\n"
    "block being played: the update has then failed (exit status 1).\n"
    "\n"
    "Exit status:\n"
    "  0  the update finished (with --list or --version-only: done)\n"
    "  1  the update failed\n"
    "  2  usage error, or the file was refused\n"
    "  3  no instrument found, or its ports could not be opened";

void printLine(std::FILE *to, const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

int fail(int status, const QString &problem)
{
    printLine(stderr, QStringLiteral("tarnwick-flash: ") + problem);
    return status;
}

void closeSession()
{
    // The callback is only cancelled where it was set: RtMidi warns otherwise.
    if (midi.midiIn.isPortOpen())
        closeFileAndPorts();
    firmwareFile.close();
    midi.midiOut.closePort();
}

int list(const QVector<Instrument> &instruments)
{
    printLine(stdout,
              QStringLiteral("MIDI API: ") +
                  QString::fromStdString(RtMidi::getApiDisplayName(midi.midiIn.getCurrentApi())));
    for (const Instrument &instrument : instruments)
        for (const QString &line : describe(instrument))
            printLine(stdout, line);
    return instruments.isEmpty() ? fail(kNoInstrument, QStringLiteral("no instrument found"))
                                 : kFinished;
}

// Opens the chosen ports and logs the version; with a file, uploads it.
int flash(const PortChoice &ports, const QString &path)
{
    TerminalObserver observer(stdout, isatty(STDOUT_FILENO) == 1);
    try {
        // The id of the instrument behind the chosen output, in every message.
        setDeviceId(deviceIdForModel(ports.output.model.toStdString()));
        observer.log(openReplyInput(ports.input.index, ports.input.name));
        observer.log(openStreamOutput(ports.output.index, ports.output.name));
        observer.log(queryFirmwareVersion());
    } catch (const RtMidiError &error) {
        const QString refusal = openRefusalLogText(error);
        if (!refusal.isEmpty())
            observer.log(refusal);
        closeSession();
        return fail(kNoInstrument, midiErrorText(error));
    }
    if (path.isEmpty()) {
        closeSession();
        return kFinished;
    }

    FirmwareTransfer transfer(observer);
    const TransferRefusal refusal = transfer.check();
    if (refusal != TransferRefusal::None) {
        closeSession();
        return fail(kUsage, refusalText(refusal));
    }
    observer.setImageSize(firmwareFile.size());
    UploadInterrupts interrupts(transfer, observer);
    if (!interrupts.armed()) {
        closeSession();
        return fail(kFailed, QStringLiteral("cannot take over Ctrl-C for the upload"));
    }
    // Closes the file and both ports, whatever the outcome.
    if (transfer.run())
        return kFinished;
    if (midiServerStopped())
        observer.log(QStringLiteral("The MIDI server stopped while tarnwick-flash was running: run "
                                    "it again once the server runs."));
    return kFailed;
}

} // namespace

int main(int argc, char **argv)
{
    restoreStderr(stderrBeforeMain);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    // The version query also writes the version bytes to Qt's debug channel,
    // for the window; here the version line says it (QT_LOGGING_RULES still
    // turns it back on).
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // Output to a pipe that closes (| head) must not end an upload halfway.
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listOption(
        QStringLiteral("list"),
        QStringLiteral("Show the MIDI API in use and each instrument found: its ports' names, "
                       "model and device id."));
    const QCommandLineOption inputOption(QStringLiteral("input"),
                                         QStringLiteral("The instrument's port to read replies "
                                                        "from (its MIDI out)."),
                                         QStringLiteral("NAME"));
    const QCommandLineOption outputOption(QStringLiteral("output"),
                                          QStringLiteral("The instrument's port to send to (its "
                                                         "MIDI in)."),
                                          QStringLiteral("NAME"));
    const QCommandLineOption versionOnlyOption(
        QStringLiteral("version-only"),
        QStringLiteral("Open the ports, print the instrument's firmware version and close."));
    parser.addOptions({listOption, inputOption, outputOption, versionOnlyOption});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The firmware image (raw bytes) to upload."));
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(kUsage, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(kFinished);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const QStringList files = parser.positionalArguments();
    const bool versionOnly = parser.isSet(versionOnlyOption);
    if (!parser.isSet(listOption) && files.size() != (versionOnly ? 0 : 1))
        return fail(kUsage, versionOnly ? QStringLiteral("--version-only takes no FILE")
                                        : QStringLiteral("one FILE to upload (see --help)"));
    // A file is refused before the instrument is touched. Only a regular file
    // is an image: a pipe or a device has no size to number the blocks by.
    const QString path = files.value(0);
    if (!path.isEmpty()) {
        firmwareFile.setFileName(path);
        if (!QFileInfo(path).isFile())
            return fail(kUsage, path + QStringLiteral(": not a regular file"));
        if (!firmwareFile.open(QIODevice::ReadOnly))
            return fail(kUsage, path + QStringLiteral(": ") + firmwareFile.errorString());
    }

    QVector<Instrument> instruments;
    const int stderrOfMain = quietStderr();
    try {
        instruments = findInstruments();
    } catch (const RtMidiError &error) {
        restoreStderr(stderrOfMain);
        return fail(kNoInstrument, midiErrorText(error));
    }
    restoreStderr(stderrOfMain);
    if (parser.isSet(listOption))
        return list(instruments);
    const PortChoice ports =
        choosePorts(instruments, parser.value(inputOption), parser.value(outputOption));
    if (ports.outcome != PortChoice::Chosen) {
        fail(kUsage, ports.problem);
        for (const Instrument &instrument : instruments)
            for (const QString &line : describe(instrument))
                printLine(stderr, line);
        return ports.outcome == PortChoice::Ambiguous ? kUsage : kNoInstrument;
    }
    return flash(ports, path);
}
