#include "fault_report.h"

#include <cstdio>

void reportFault(const QString &caseName, const QString &outcome, qint64 stallMs)
{
    std::printf("FAULT %s | %s | stall %lld ms\n", qPrintable(caseName), qPrintable(outcome),
                static_cast<long long>(stallMs));
    std::fflush(stdout);
}
