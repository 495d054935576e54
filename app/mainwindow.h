#pragma once

#include <QMainWindow>
#include <QString>

namespace Ui {
class MainWindow;
}

// The program's only window. Its four slots carry the whole workflow; state
// they share lives in the session's process-wide objects, not here.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow &) = delete;
    MainWindow &operator=(const MainWindow &) = delete;

    // Appends text to the log pane as one paragraph, unchanged.
    void appendLog(const QString &text);

private slots:
    void on_pushButton_clicked();   // "Refresh"
    void on_pushButton_2_clicked(); // "Open"
    void on_pushButton_6_clicked(); // "Open FW"
    void on_pushButton_8_clicked(); // "Upload FW"

private:
    // Empties both port lists and the file path: the next try starts from Refresh.
    void clearPortListsAndPath();
    // After a failed action: what to do when the MIDI server stopped under it.
    void adviseOnStoppedServer();

    Ui::MainWindow *ui;
};
