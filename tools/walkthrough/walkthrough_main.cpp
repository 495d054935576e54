// The demo without a display: walks through the window's own buttons (Refresh,
// Open, Open FW with the given image, Upload FW) on whatever instrument the MIDI
// layer offers, prints the log pane, and exits 0 only when the update finished.
#include "window_driver.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2 || !QFileInfo(args.at(1)).isFile()) {
        std::fprintf(stderr, "usage: tarnwick-walkthrough FIRMWARE.bin\n");
        return 2;
    }

    WindowDriver driver;
    driver.refresh();
    driver.open();
    driver.openFirmware(QFileInfo(args.at(1)).absoluteFilePath());
    driver.upload();

    const QStringList log = driver.logLines();
    for (const QString &line : log)
        std::printf("log: %s\n", qPrintable(line));
    for (const QString &message : driver.dialogs().messages())
        std::printf("box: %s\n", qPrintable(message));
    std::fflush(stdout);
    return !log.isEmpty() && log.last() == QLatin1String("Update finished") ? 0 : 1;
}
