#include "jpeg_encoder/decoder.h"

#include "jpeg_encoder/libjpeg_glue.h"

#include <algorithm>
#include <new>

namespace jpeg_encoder
{

namespace
{

// Rows at a time: few calls into the library, and an abandoned decode ends soon.
constexpr int RowsAtATime = 16;

// What runs between setjmp and the end: no object here needs a destructor,
// since a libjpeg error jumps past them.
bool readRows(jpeg_decompress_struct &cinfo, ErrorManager &err, const QByteArray &file, QImage &out,
              const std::atomic_bool *abandoned)
{
    if (setjmp(err.jump))
        return false;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(file.constData()),
                 static_cast<unsigned long>(file.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        return false;
    if (cinfo.jpeg_color_space != JCS_YCbCr && cinfo.jpeg_color_space != JCS_GRAYSCALE &&
        cinfo.jpeg_color_space != JCS_RGB)
        return false;
    // Straight into three bytes a pixel: a quarter less to hold than 32 bits.
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out = QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB888);
    if (out.isNull())
        return false;
    JSAMPROW rows[RowsAtATime];
    while (cinfo.output_scanline < cinfo.output_height) {
        if (abandoned && abandoned->load(std::memory_order_relaxed))
            return false;
        const int first = int(cinfo.output_scanline);
        const int count = std::min(RowsAtATime, int(cinfo.output_height) - first);
        for (int i = 0; i < count; ++i)
            rows[i] = out.scanLine(first + i);
        jpeg_read_scanlines(&cinfo, rows, JDIMENSION(count));
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

QImage LibjpegDecoder::decode(const QByteArray &file, const std::atomic_bool *abandoned)
{
    if (file.isEmpty())
        return {};
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    reportErrorsTo(cinfo, err);
    jpeg_create_decompress(&cinfo);
    QImage out;
    bool read = false;
    try {
        read = readRows(cinfo, err, file, out, abandoned);
    } catch (const std::bad_alloc &) {
        read = false;
    }
    jpeg_destroy_decompress(&cinfo);
    return read ? out : QImage();
}

} // namespace jpeg_encoder
