#include "session_checks.h"

#include "shared_objects.h"
#include "ui_mainwindow.h"
#include "window_driver.h"

QList<int> expectedProgress(unsigned blockCount)
{
    QList<int> values;
    int shown = 0;
    for (unsigned i = 1; i <= blockCount; ++i) {
        const float fraction = static_cast<float>(i) / static_cast<float>(blockCount);
        const int value = static_cast<int>(fraction * 100.0);
        if (value != shown)
            values.append(value);
        shown = value;
    }
    if (shown != 0)
        values.append(0);
    return values;
}

QStringList openedLog(const QString &model, const QString &versionLine)
{
    return {QStringLiteral("Opened input port ") + model,
            QStringLiteral("Opened output port ") + model, versionLine};
}

QString sessionClosedProblem(WindowDriver &driver)
{
    Ui::MainWindow &ui = driver.ui();
    QStringList problems;
    if (midi.midiIn.isPortOpen())
        problems << "input port open";
    if (midi.midiOut.isPortOpen())
        problems << "output port open";
    if (firmwareFile.isOpen())
        problems << "firmware file open";
    if (ui.cBInput->count() != 0 || ui.cBOutput->count() != 0)
        problems << "port lists not empty";
    if (!ui.lineEdit->text().isEmpty())
        problems << "path not empty";
    if (ui.progressBar->value() != 0)
        problems << "progress not 0";
    if (!ui.pushButton->isEnabled() || !ui.pushButton_2->isEnabled() ||
        !ui.pushButton_6->isEnabled() || !ui.pushButton_8->isEnabled())
        problems << "a button disabled";
    return problems.join(QStringLiteral(", "));
}
