#include "window_driver.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

WindowDriver::WindowDriver() : window_(std::make_unique<MainWindow>())
{
    connect(widget<QProgressBar>("progressBar"), &QProgressBar::valueChanged, this,
            [this](int value) { progress_.append(value); });
    window_->show();
}

WindowDriver::~WindowDriver() = default;

void WindowDriver::refresh()
{
    widget<QPushButton>("pushButton")->click();
}

void WindowDriver::open()
{
    widget<QPushButton>("pushButton_2")->click();
}

void WindowDriver::openFirmware(const QString &path)
{
    answerer_.queueFile(path);
    widget<QPushButton>("pushButton_6")->click();
}

void WindowDriver::upload()
{
    widget<QPushButton>("pushButton_8")->click();
}

qint64 WindowDriver::timedUpload()
{
    QElapsedTimer elapsed;
    elapsed.start();
    upload();
    return elapsed.elapsed();
}

void WindowDriver::openDevicesAndFirmware(const QString &path)
{
    open();
    openFirmware(path);
}

QStringList WindowDriver::logLines() const
{
    const QString text = widget<QTextEdit>("textEdit")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void WindowDriver::destroyWindow()
{
    window_.reset();
}
