#include "close_refusal.h"

#include "mainwindow.h"

#include <QEvent>

CloseRefusal::CloseRefusal(MainWindow &window) : window_(window)
{
    window_.installEventFilter(this);
}

CloseRefusal::~CloseRefusal()
{
    window_.removeEventFilter(this);
}

bool CloseRefusal::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &window_ && event->type() == QEvent::Close) {
        event->ignore();
        window_.appendLog(tr("Please wait until the update has finished."));
        return true;
    }
    return QObject::eventFilter(watched, event);
}
