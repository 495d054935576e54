// tarnwick-flash: the window's upload from a shell or a script. It finds the
// instrument, opens its ports, asks its version and uploads the image with the
// window's pacing, handshake and checks, printing the window's log texts.
#include "device_id.h"
#include "firmware_transfer.h"
#include "instrument_choice.h"
#include "session.h"
#include "terminal_observer.h"
#include "upload_interrupts.h"

#include "library_messages.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>

namespace {

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
    TerminalObserver observer(stdout, TerminalObserver::redrawsLines(stdout));
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
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    // The version query also writes the version bytes to Qt's debug channel,
    // for the window; here the version line says it (QT_LOGGING_RULES still
    // turns it back on).
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
#ifdef SIGPIPE
    // Output to a pipe that closes (| head) must not end an upload halfway.
    std::signal(SIGPIPE, SIG_IGN);
#endif

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
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"),
        QStringLiteral("Also print what the MIDI libraries said while the MIDI APIs were tried "
                       "and the ports listed (TARNWICK_VERBOSE=1 prints it as it comes)."));
    parser.addOptions({listOption, inputOption, outputOption, versionOnlyOption, verboseOption});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The firmware image (raw bytes) to upload."));
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(kUsage, parser.errorText());
    // Printed here rather than by showHelp() and showVersion(), which on
    // Windows show a message box when the program has no console.
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return kFinished;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        printLine(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                              QCoreApplication::applicationVersion());
        return kFinished;
    }
    if (parser.isSet(verboseOption)) {
        for (const std::string &line : keptMidiLibraryMessages())
            printLine(stderr, QString::fromStdString(line));
        setMidiLibrariesVerbose(true);
    }

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
    try {
        instruments = findInstruments();
    } catch (const RtMidiError &error) {
        return fail(kNoInstrument, midiErrorText(error));
    }
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
