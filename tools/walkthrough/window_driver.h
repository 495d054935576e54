#pragma once

#include "dialog_answerer.h"
#include "mainwindow.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <memory>

// Drives the real window through its own buttons, as a user would: each call
// clicks one button and returns when its action has ended. Dialogs that the
// action opens are answered by a DialogAnswerer. Used by the end-to-end tests
// and by the headless walk-through of the demo.
class WindowDriver : public QObject
{
    Q_OBJECT

public:
    WindowDriver();
    ~WindowDriver() override;

    void refresh();
    void open();
    // Picks path in the file dialog; an empty path cancels the dialog.
    void openFirmware(const QString &path);
    void upload();
    // Upload FW, returning how long the action took in milliseconds.
    qint64 timedUpload();
    // Open, then Open FW with path: what precedes every upload.
    void openDevicesAndFirmware(const QString &path);

    MainWindow &window() { return *window_; }
    // One of the window's widgets by its object name ("progressBar", "pushButton_8").
    template <typename Widget> Widget *widget(const char *objectName) const
    {
        return window_->findChild<Widget *>(QLatin1String(objectName));
    }
    DialogAnswerer &dialogs() { return answerer_; }

    // The log pane, one entry per line.
    QStringList logLines() const;
    // Every value the progress bar took, in order (changes only).
    const QList<int> &progressValues() const { return progress_; }
    void clearProgress() { progress_.clear(); }

    // Closes and destroys the window (its teardown runs).
    void destroyWindow();

private:
    std::unique_ptr<MainWindow> window_;
    DialogAnswerer answerer_;
    QList<int> progress_;
};
