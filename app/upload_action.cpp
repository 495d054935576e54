// Upload FW: sends the firmware image to the instrument.
#include "mainwindow.h"

void MainWindow::on_pushButton_8_clicked() {}
