#include "terminal_observer.h"

#include "messages.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int kBarWidth = 30;

// m:ss
QString minutesAndSeconds(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    return QString::number(seconds / 60) + QLatin1Char(':') +
           QString::number(seconds % 60).rightJustified(2, QLatin1Char('0'));
}

} // namespace

TerminalObserver::TerminalObserver(std::FILE *out, bool terminal) : out_(out), terminal_(terminal)
{
}

bool TerminalObserver::redrawsLines(std::FILE *out)
{
#ifdef Q_OS_WIN
    if (!_isatty(_fileno(out)))
        return false;
    const HANDLE console = GetStdHandle(out == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
    return isatty(fileno(out)) == 1;
#endif
}

TerminalObserver::~TerminalObserver()
{
    endBarLine();
}

void TerminalObserver::log(const QString &line)
{
    // The bar stays above the line, as it was when the line came.
    endBarLine();
    std::fputs(line.toLocal8Bit().constData(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void TerminalObserver::blockDone(unsigned blockNumber, unsigned blockCount)
{
    // The first block includes the acknowledgement and the pause after it:
    // the pace is taken from the blocks after it.
    if (blockNumber == 1)
        sinceFirstBlock_.start();
    if (terminal_) {
        const int filled = static_cast<int>(qint64(kBarWidth) * blockNumber / blockCount);
        const QString bar = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                            QString(kBarWidth - filled, QLatin1Char('.')) + QLatin1String("] ");
        // Back to the line's start and clear it: the time left may get shorter.
        std::fprintf(out_, "\r%s\033[K",
                     (bar + status(blockNumber, blockCount)).toLocal8Bit().constData());
        barShown_ = true;
    } else {
        const unsigned tenths = 10u * blockNumber / blockCount;
        if (tenths > tenthsShown_) {
            tenthsShown_ = tenths;
            std::fprintf(out_, "%u%% %s\n", tenths * 10u,
                         status(blockNumber, blockCount).toLocal8Bit().constData());
        }
    }
    std::fflush(out_);
}

QString TerminalObserver::status(unsigned blockNumber, unsigned blockCount) const
{
    const qint64 bytes = qMin(imageSize_, qint64(blockNumber) * qint64(kBlockDataSize));
    QString left = QStringLiteral("-:--");
    if (blockNumber == blockCount)
        left = minutesAndSeconds(0);
    else if (blockNumber > 1)
        left = minutesAndSeconds(sinceFirstBlock_.elapsed() * (blockCount - blockNumber) /
                                 (blockNumber - 1));
    return QStringLiteral("%1/%2 blocks, %3/%4 bytes, %5 left")
        .arg(blockNumber)
        .arg(blockCount)
        .arg(bytes)
        .arg(imageSize_)
        .arg(left);
}

void TerminalObserver::endBarLine()
{
    if (!barShown_)
        return;
    std::fputc('\n', out_);
    std::fflush(out_);
    barShown_ = false;
}
