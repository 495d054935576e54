#include "mainwindow.h"

#include "session_teardown.h"
#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // The port lists are filled the same way "Refresh" fills them.
    on_pushButton_clicked();
}

// Release the file and both ports before the widgets go, so nothing the window
// opened outlives it. The callback goes before the input port it serves.
MainWindow::~MainWindow()
{
    closeFileAndDevices(*ui);
    delete ui;
}

void MainWindow::appendLog(const QString &text)
{
    ui->textEdit->append(text);
}
