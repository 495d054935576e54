// Open FW: chooses the firmware image and opens it.
#include "mainwindow.h"

#include "shared_objects.h"
#include "ui_mainwindow.h"

#include <QFileDialog>

void MainWindow::on_pushButton_6_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open Firmware"), QString(),
                                                      tr("Binary files (*.bin)"));
    ui->lineEdit->setText(path);

    // A new choice always replaces the previous one, also when it fails or is
    // cancelled: the upload checks whether a file is open.
    firmwareFile.close();
    firmwareFile.setFileName(path);
    firmwareFile.open(QIODevice::ReadOnly);
}
