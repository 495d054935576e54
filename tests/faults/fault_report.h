#pragma once

#include <QString>

// One line per fault case, "FAULT <case> | <outcome> | stall <ms> ms", on the
// test's output: the figures of the fault report come from these lines
// (ctest -V -L faults | grep FAULT).
void reportFault(const QString &caseName, const QString &outcome, qint64 stallMs);
