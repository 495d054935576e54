#include "window_driver.h"

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QElapsedTimer>

WindowDriver::WindowDriver() : window_(std::make_unique<MainWindow>())
{
    connect(window_->ui->progressBar, &QProgressBar::valueChanged, this,
            [this](int value) { progress_.append(value); });
    window_->show();
}

WindowDriver::~WindowDriver() = default;

Ui::MainWindow &WindowDriver::ui()
{
    return *window_->ui;
}

void WindowDriver::refresh()
{
    window_->ui->pushButton->click();
}

void WindowDriver::open()
{
    window_->ui->pushButton_2->click();
}

void WindowDriver::openFirmware(const QString &path)
{
    answerer_.queueFile(path);
    window_->ui->pushButton_6->click();
}

void WindowDriver::upload()
{
    window_->ui->pushButton_8->click();
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
    const QString text = window_->ui->textEdit->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void WindowDriver::destroyWindow()
{
    window_.reset();
}
