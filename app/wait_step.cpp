#include "wait_step.h"

#include "shared_objects.h"

#include <QTimer>

void waitStep(int milliseconds)
{
    QTimer::singleShot(milliseconds, &sharedEventLoop, SLOT(quit()));
    sharedEventLoop.exec(QEventLoop::AllEvents);
}
