#pragma once

#include <QList>
#include <QObject>

class MainWindow;
class QPushButton;
class QWidget;

// Guards that hold while one of the window's actions waits for the instrument.
// The window keeps processing events meanwhile; these keep a second action
// from starting inside the waiting one and the window from going away.

// Disables the window's buttons; restored when the action ends, however it ends.
class ButtonsDisabled
{
public:
    explicit ButtonsDisabled(QWidget &window);
    ~ButtonsDisabled();
    ButtonsDisabled(const ButtonsDisabled &) = delete;
    ButtonsDisabled &operator=(const ButtonsDisabled &) = delete;

private:
    void setEnabled(bool enabled);

    QList<QPushButton *> buttons_;
};

// Refuses to close the window while it exists (during an upload): an
// instrument left with half an image must not lose its updater. Each refused
// close request is answered with a line in the log.
class CloseRefusal : public QObject
{
    Q_OBJECT

public:
    explicit CloseRefusal(MainWindow &window);
    ~CloseRefusal() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MainWindow &window_;
};
