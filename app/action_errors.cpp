#include "action_errors.h"

#include "error_box.h"

QString midiErrorText(const RtMidiError &error)
{
    return QString::fromStdString(error.getMessage()).trimmed();
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
