// JPEG decoding with libjpeg, for the picture strip of the communication page.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace monitor {

// Decodes a whole JPEG file held in memory into an RGB image. Damaged or
// truncated data, and pictures beyond kMaxJpegPixels, give a null image and
// the reason in *error; the decoder never ends the program.
QImage DecodeJpeg(const QByteArray& data, QString* error = nullptr);

inline constexpr long long kMaxJpegPixels = 16LL * 1024 * 1024;

} // namespace monitor
