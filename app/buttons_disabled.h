#pragma once

#include "ui_mainwindow.h"

// While an action waits for the instrument the window keeps processing events;
// the four buttons are disabled meanwhile so that no second action can start
// inside the waiting one. Restored when the action ends, however it ends.
class ButtonsDisabled
{
public:
    explicit ButtonsDisabled(Ui::MainWindow &ui) : ui_(ui) { setEnabled(false); }
    ~ButtonsDisabled() { setEnabled(true); }
    ButtonsDisabled(const ButtonsDisabled &) = delete;
    ButtonsDisabled &operator=(const ButtonsDisabled &) = delete;

private:
    void setEnabled(bool enabled)
    {
        ui_.pushButton->setEnabled(enabled);
        ui_.pushButton_2->setEnabled(enabled);
        ui_.pushButton_6->setEnabled(enabled);
        ui_.pushButton_8->setEnabled(enabled);
    }

    Ui::MainWindow &ui_;
};
