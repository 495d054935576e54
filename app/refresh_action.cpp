// Refresh: re-reads the port lists.
#include "mainwindow.h"

void MainWindow::on_pushButton_clicked() {}
