#pragma once

#include <QObject>

class MainWindow;

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
