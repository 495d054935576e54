// Open FW: chooses the firmware image and opens it.
#include "mainwindow.h"

#include "shared_objects.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QFileInfo>

void MainWindow::on_pushButton_6_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open Firmware"), QString(),
                                                      tr("Binary files (*.bin)"));
    ui->lineEdit->setText(path);

    // A new choice always replaces the previous one, also when it fails or is
    // cancelled: the upload checks whether a file is open.
    firmwareFile.close();
    firmwareFile.setFileName(path);
    // Only a regular file is an image: opening a named pipe waits for a writer
    // with the window frozen, and a device has no size to number blocks by.
    // Anything else stays closed, so "Upload FW" answers "Open file!".
    if (QFileInfo(path).isFile())
        firmwareFile.open(QIODevice::ReadOnly);
}
