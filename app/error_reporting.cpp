#include "error_reporting.h"

#include "session.h"

#include <QCoreApplication>
#include <QMessageBox>

void showErrorBox(const QString &text)
{
    QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Error"), text,
                          QMessageBox::Ok);
}

bool runReportingMidiErrors(const std::function<void()> &action,
                            const std::function<void()> &cleanup)
{
    try {
        action();
        return true;
    } catch (const RtMidiError &error) {
        if (cleanup) {
            try {
                cleanup();
            } catch (const RtMidiError &) {
                // Closing after a failure must not hide the failure itself.
            }
        }
        showErrorBox(midiErrorText(error));
        return false;
    }
}
