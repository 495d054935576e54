#include "mainwindow.h"

#include "shared_objects.h"
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
    firmwareFile.close();
    midi.midiIn.cancelCallback();
    midi.midiIn.closePort();
    midi.midiOut.closePort();
    ui->cBInput->clear();
    ui->cBOutput->clear();
    ui->lineEdit->clear();
    delete ui;
}

void MainWindow::appendLog(const QString &text)
{
    ui->textEdit->append(text);
}
