#include "error_box.h"

#include <QCoreApplication>
#include <QMessageBox>

void showErrorBox(const QString &text)
{
    QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Error"), text,
                          QMessageBox::Ok);
}
