// Open FW: chooses the firmware image and opens it.
#include "mainwindow.h"

void MainWindow::on_pushButton_6_clicked() {}
