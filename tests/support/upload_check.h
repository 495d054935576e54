#pragma once

#include "simulator.h"

#include <QByteArray>
#include <QString>

// The image the upload rows send: `size` bytes in which every block differs
// from the others, so a block sent twice or out of its place shows.
QByteArray testImage(qint64 size);
// Writes the image at `path`; false when it could not be written whole.
bool writeImage(const QString &path, const QByteArray &image);

// What a stopped instrument holds, against `blocks` blocks of `image` whole
// and in order: empty when so, else what differs. The instrument keeps every
// block whole, so a short last block carries the bytes of the block before
// it (or zeros when it is the only one) past the image's end.
QString heldDifference(const Simulator &sim, const QByteArray &image, int blocks);
