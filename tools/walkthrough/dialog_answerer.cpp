#include "dialog_answerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

DialogAnswerer::DialogAnswerer()
{
    connect(&timer_, &QTimer::timeout, this, &DialogAnswerer::answer);
    timer_.start(10);
}

void DialogAnswerer::answer()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        if (!box->isVisible())
            return;
        messages_.append(box->windowTitle() + QStringLiteral(": ") + box->text());
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        if (!dialog->isVisible())
            return;
        fileDialogs_.append(dialog->windowTitle() + QStringLiteral(" | ") +
                            dialog->nameFilters().join(QStringLiteral(";;")));
        const QString path = files_.isEmpty() ? QString() : files_.takeFirst();
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            // Typed as a whole path, as a user may type it: selectFile() would
            // leave the name to be resolved against a directory that the
            // dialog's file system model is still loading.
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(path);
            else
                dialog->selectFile(path);
            static_cast<QDialog *>(dialog)->accept(); // as the Open button does
        }
    }
}
