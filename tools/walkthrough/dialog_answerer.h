#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Answers the window's modal dialogs from the test, the way a user would: a
// message box is read and dismissed with OK; a file dialog is given the path
// queued for it (or cancelled when the queued path is empty).
class DialogAnswerer : public QObject
{
    Q_OBJECT

public:
    DialogAnswerer();

    // The path to pick in the next file dialog; an empty string cancels it.
    void queueFile(const QString &path) { files_.append(path); }

    // Message boxes seen so far, as "title: text".
    const QStringList &messages() const { return messages_; }
    void clear() { messages_.clear(); }
    // Captions and filters of the file dialogs seen so far.
    const QStringList &fileDialogs() const { return fileDialogs_; }

private:
    void answer();

    QTimer timer_;
    QStringList files_;
    QStringList messages_;
    QStringList fileDialogs_;
};
