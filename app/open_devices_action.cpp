// Open: opens the instrument's ports and asks for its firmware version.
#include "mainwindow.h"

void MainWindow::on_pushButton_2_clicked() {}
