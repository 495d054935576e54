// Poses the window for the README's picture (scripts/screenshot): Refresh,
// Open and Open FW with the given image through the window's own buttons, as a
// user does before Upload FW. Then it prints POSED and stays until it is ended,
// for the picture to be taken from outside.
#include "window_driver.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2 || !QFileInfo(args.at(1)).isFile()) {
        std::fprintf(stderr, "usage: tarnwick-screenshot-pose FIRMWARE.bin\n");
        return 2;
    }

    WindowDriver driver;
    driver.refresh();
    driver.openDevicesAndFirmware(QFileInfo(args.at(1)).absoluteFilePath());
    std::printf("POSED\n");
    std::fflush(stdout);
    return app.exec();
}
