#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Firmware images for the tests: reproducible pseudo-random bytes (every byte
// value occurs, top bit set or not) written to a .bin file in a private folder.
class FirmwareImage
{
public:
    FirmwareImage(qint64 size, quint32 seed);

    const QByteArray &bytes() const { return bytes_; }
    const QString &path() const { return path_; }
    qint64 size() const { return bytes_.size(); }

private:
    QTemporaryDir dir_;
    QByteArray bytes_;
    QString path_;
};
