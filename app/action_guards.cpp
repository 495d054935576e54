#include "action_guards.h"

#include "firmware_transfer.h"
#include "mainwindow.h"

#include <QEvent>
#include <QPushButton>

ButtonsDisabled::ButtonsDisabled(QWidget &window) : buttons_(window.findChildren<QPushButton *>())
{
    setEnabled(false);
}

ButtonsDisabled::~ButtonsDisabled()
{
    setEnabled(true);
}

void ButtonsDisabled::setEnabled(bool enabled)
{
    for (QPushButton *button : buttons_)
        button->setEnabled(enabled);
}

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
        window_.appendLog(pleaseWaitText());
        return true;
    }
    return QObject::eventFilter(watched, event);
}
