#pragma once
// Pictures written as JPEG without a window: the same loader, the same picture
// surface and the same writer as Open and Save.

#include <QList>
#include <QString>

#include <cstdint>

class QTextStream;

namespace platform
{
class JpegWriter;
class PictureLoader;
} // namespace platform

namespace picture_files
{
struct Conversion {
    QString input, output;
};

// Writes each input to its output at the quality. A failure is reported on
// errors with the input's name and the reason, and leaves its output as it
// was. Returns how many failed.
int convertFiles(const QList<Conversion> &conversions, int32_t quality,
                 platform::PictureLoader &loader, platform::JpegWriter &writer,
                 QTextStream &errors);
} // namespace picture_files
