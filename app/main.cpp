#include "mainwindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The window follows the screen's scale factor (a 200 % screen draws it at
    // twice the pixels), instead of staying 650 x 250 device pixels.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
