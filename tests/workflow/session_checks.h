#pragma once

#include <QList>
#include <QStringList>

class WindowDriver;

// The progress bar's values for an upload of blockCount blocks, as the bar
// reports changes: the truncated single-precision percentage before each block,
// then 0 when the upload has ended.
QList<int> expectedProgress(unsigned blockCount);

// The log of a press of "Open" on a Varnox that answers with version.
QStringList openedLog(const QString &model, const QString &versionLine);

// What every upload leaves behind, finished or failed: no port and no file
// open, both lists and the path empty, the bar at 0 and the buttons enabled.
// Returns an empty string when all hold, else what does not.
QString sessionClosedProblem(WindowDriver &driver);
