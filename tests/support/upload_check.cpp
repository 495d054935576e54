#include "upload_check.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QByteArray testImage(qint64 size)
{
    QByteArray image;
    for (qint64 i = 0; i < size; ++i)
        image.append(char((i * 97 + i / 256 * 31 + 5) & 0xFF));
    return image;
}

bool writeImage(const QString &path, const QByteArray &image)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(image) == image.size();
}

QString heldDifference(const Simulator &sim, const QByteArray &image, int blocks)
{
    const QJsonObject s = sim.summary();
    if (s.isEmpty())
        return "the instrument wrote no summary: " + sim.log();
    if (s["framing_errors"].toInt() != 0) // a block cut short or run together
        return QJsonDocument(s["framing_error_texts"].toArray()).toJson();
    if (s["blocks_received"].toInt() != blocks)
        return QString("%1 blocks held, not %2").arg(s["blocks_received"].toInt()).arg(blocks);
    QByteArray held = image;
    const int tail = image.size() % 256;
    if (tail != 0)
        held += image.size() > 256 ? image.mid(image.size() - 256, 256 - tail)
                                   : QByteArray(256 - tail, '\0');
    QFile received(sim.imagePath());
    if (blocks > 0 &&
        (!received.open(QIODevice::ReadOnly) || received.readAll() != held.left(blocks * 256)))
        return "the image did not arrive as sent";
    return {};
}
