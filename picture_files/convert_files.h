#pragma once
// Pictures written as JPEG without a window: the same loader, the same picture
// surface and the same writer as Open and Save.

#include "picture_files/picture_choices.h"

#include <QList>
#include <QString>

#include <cstdint>

class QTextStream;

namespace platform
{
class JpegWriter;
class PictureLoader;
class Trash;
} // namespace platform

namespace picture_files
{
struct Conversion {
    QString input, output;
};

struct ConvertOptions {
    int32_t quality = 50;
    // Replace a document that is no picture, or one no trash can keep.
    bool force = false;
    PictureChoices choices;
};

struct ConvertServices {
    platform::PictureLoader &loader;
    platform::JpegWriter &writer;
    platform::Trash &trash;
    // Conversions at once, each on a thread of its own; the services must
    // bear being called from all of them when more than one.
    int workers = 1;
    // Bytes that the conversions under way may take together: a conversion
    // waits for memory as well as for a worker. 0: no bound.
    qint64 memory = 0;
};

// What converting a picture of that many pixels takes at its peak: the
// decoded picture, its coefficients and its file.
qint64 conversionBytes(qint64 pixels);

// Writes each input to its output at the quality, keeping its colour and
// metadata as chosen. A failure is reported on
// errors with the input's name and the reason, and leaves its output as it
// was. An output that exists goes to the trash just before it is replaced; a
// document that is no picture, or one no trash can keep, is replaced only
// with force. A later input whose output an earlier one wrote is a failure,
// names told apart as the output's folder tells them (a FAT stick does not
// tell case) and files as they are on disk (links). Reports come in the
// inputs' order. Returns how many failed.
int convertFiles(const QList<Conversion> &conversions, const ConvertOptions &options,
                 const ConvertServices &sys, QTextStream &errors);
} // namespace picture_files
