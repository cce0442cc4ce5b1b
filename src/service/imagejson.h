#pragma once
// The instrument image as the local channel carries it: the blocks the poll cycle reads, each as
// an array of numbers, so that an attached window shows every field of its panels as a window of
// the chamber's own program does.

#include <QJsonObject>

#include "comm/image.h"

namespace service {

QJsonObject imageJson(const comm::InstrumentImage& image);
// The image read back; a block missing, short or not numbers leaves its elements at zero.
comm::InstrumentImage imageFromJson(const QJsonObject& o);

}  // namespace service
