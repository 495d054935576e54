#include "mainwindow.h"

#include "session_teardown.h"
#include "ui_mainwindow.h"

#include <QApplication>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // Closing the window must end the program even while an action waits in
    // its nested event loop: Qt's own quit on the last window closed was seen
    // not to come then, leaving the program running with no window and the
    // ports open. Quitting ends the waits at once and the teardown runs.
    connect(qApp, &QGuiApplication::lastWindowClosed, qApp, &QCoreApplication::quit,
            Qt::UniqueConnection);
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
