#include "fault_trigger.h"

#include "session_checks.h"

#include "ui_mainwindow.h"
#include "window_driver.h"

#include <QtTest>
#include <csignal>

namespace {

std::chrono::steady_clock::rep nowTicks()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

// The progress bar's value shown before block k of the fault image.
int progressBefore(unsigned block)
{
    return static_cast<int>(static_cast<float>(block) / static_cast<float>(kFaultImageBlocks) *
                            100.0);
}

} // namespace

const char *faultPointName(FaultPoint point)
{
    switch (point) {
    case FaultPoint::VersionQuery:
        return "during the version query";
    case FaultPoint::BeforeAck:
        return "before the acknowledgement";
    case FaultPoint::MidUnit:
        return "in the middle of a unit";
    case FaultPoint::BetweenBlocks:
        return "between blocks";
    }
    return "?";
}

FaultTrigger::FaultTrigger(WindowDriver &driver, FaultPoint point, pid_t victim) : victim_(victim)
{
    if (point == FaultPoint::VersionQuery) {
        // The request goes out within ~100 ms of the press; the poll lasts ~1 s.
        QTimer::singleShot(400, this, [this] { kill(); });
        return;
    }
    const unsigned block = point == FaultPoint::BeforeAck ? 1 : kFaultBlock;
    const int value = progressBefore(block);
    connect(driver.ui().progressBar, &QProgressBar::valueChanged, this,
            [this, point, value](int v) {
                if (v != value || fired() || killer_.joinable())
                    return;
                if (point == FaultPoint::MidUnit) {
                    // The GUI thread is about to block in the send: only a thread of
                    // our own can act while the pieces play.
                    killer_ = std::thread([this] {
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                        kill();
                    });
                } else {
                    QTimer::singleShot(0, this, [this] { kill(); });
                }
            });
}

FaultTrigger::~FaultTrigger()
{
    if (killer_.joinable())
        killer_.join();
}

void FaultTrigger::kill()
{
    if (fired())
        return;
    ::kill(victim_, SIGKILL);
    firedAt_.store(nowTicks());
}

qint64 FaultTrigger::msSinceFault() const
{
    const auto elapsed = std::chrono::steady_clock::duration(nowTicks() - firedAt_.load());
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

void openWithFaultAt(WindowDriver &driver, int point, pid_t victim)
{
    if (point == int(FaultPoint::VersionQuery)) {
        FaultTrigger trigger(driver, FaultPoint::VersionQuery, victim);
        driver.open();
        QVERIFY(trigger.fired());
        QCOMPARE(driver.logLines(), openedLog("Varnox", "Version 1.0.X"));
        QVERIFY2(trigger.msSinceFault() < 1500,
                 qPrintable(QString::number(trigger.msSinceFault())));
    } else {
        driver.open();
        QCOMPARE(driver.logLines().size(), 3);
    }
}
