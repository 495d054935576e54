#include "firmware_image.h"

#include <QFile>
#include <QRandomGenerator>

FirmwareImage::FirmwareImage(qint64 size, quint32 seed)
{
    QRandomGenerator random(seed);
    bytes_.resize(static_cast<int>(size));
    for (char &b : bytes_)
        b = static_cast<char>(random.bounded(256));
    path_ = dir_.filePath(QStringLiteral("firmware-%1.bin").arg(size));
    QFile file(path_);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes_);
}
