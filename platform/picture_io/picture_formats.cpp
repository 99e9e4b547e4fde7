#include "platform/picture_io/picture_formats.h"

#include "platform/picture_io/colour_profiles.h"
#include "platform/picture_io/lazy_codecs.h"

#include <QTransform>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jpeglib.h>

namespace platform::picture_formats
{

namespace
{

// Only once decodeHeif or decodeJpegXl has found its library loaded.
const lazy_codecs::Heif &libheif()
{
    return *lazy_codecs::heif();
}

const lazy_codecs::Jxl &libjxl()
{
    return *lazy_codecs::jxl();
}

bool startsWith(const uchar *data, qsizetype size, qsizetype at, const char *magic, qsizetype n)
{
    return size >= at + n && std::memcmp(data + at, magic, size_t(n)) == 0;
}

quint32 be32(const uchar *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}

// The brands of an ISO media file's ftyp box: which kind of HEIF it is.
Sniffed sniffIsoMedia(const uchar *data, qsizetype size)
{
    if (!startsWith(data, size, 4, "ftyp", 4))
        return {};
    const qsizetype boxEnd = std::min<qsizetype>(size, be32(data));
    bool heic = false, avif = false, heif = false;
    for (qsizetype at = 8; at + 4 <= boxEnd; at += 4) {
        if (at == 12)
            continue; // the minor version
        const QByteArray brand(reinterpret_cast<const char *>(data + at), 4);
        heic = heic || brand == "heic" || brand == "heix" || brand == "hevc" || brand == "hevx" ||
               brand == "heim" || brand == "heis";
        avif = avif || brand == "avif" || brand == "avis";
        heif = heif || brand == "mif1" || brand == "msf1";
    }
    if (avif)
        return {Kind::Heif, QStringLiteral("AVIF")};
    if (heic)
        return {Kind::Heif, QStringLiteral("HEIC")};
    if (heif)
        return {Kind::Heif, QStringLiteral("HEIF")};
    const QByteArray major(reinterpret_cast<const char *>(data + 8), size >= 12 ? 4 : 0);
    if (major == "crx ")
        return {Kind::Foreign, QStringLiteral("CR3")};
    if (major == "jp2 ")
        return {Kind::Foreign, QStringLiteral("JPEG 2000")};
    return {Kind::Foreign, QStringLiteral("MP4/QuickTime")};
}

struct HeifContext {
    heif_context *ctx = libheif().heif_context_alloc();
    heif_image_handle *handle = nullptr;
    ~HeifContext()
    {
        if (handle)
            libheif().heif_image_handle_release(handle);
        libheif().heif_context_free(ctx);
    }
};

QByteArray heifProfile(const heif_image_handle *handle)
{
    const heif_color_profile_type type = libheif().heif_image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        QByteArray icc(qsizetype(libheif().heif_image_handle_get_raw_color_profile_size(handle)),
                       Qt::Uninitialized);
        if (icc.isEmpty() ||
            libheif().heif_image_handle_get_raw_color_profile(handle, icc.data()).code !=
                heif_error_Ok)
            return {};
        return icc;
    }
    heif_color_profile_nclx *nclx = nullptr;
    const heif_error got = libheif().heif_image_handle_get_nclx_color_profile(handle, &nclx);
    // libheif may hand over a description even when it says it failed.
    const std::unique_ptr<heif_color_profile_nclx, void (*)(heif_color_profile_nclx *)> owned(
        nclx, libheif().heif_nclx_color_profile_free);
    if (got.code != heif_error_Ok || !nclx)
        return {};
    if (nclx->color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
        nclx->color_primaries == heif_color_primaries_unspecified)
        return {};
    colour::Chromaticities c;
    c.redX = nclx->color_primary_red_x;
    c.redY = nclx->color_primary_red_y;
    c.greenX = nclx->color_primary_green_x;
    c.greenY = nclx->color_primary_green_y;
    c.blueX = nclx->color_primary_blue_x;
    c.blueY = nclx->color_primary_blue_y;
    c.whiteX = nclx->color_primary_white_x;
    c.whiteY = nclx->color_primary_white_y;
    if (c.redY <= 0 || c.greenY <= 0 || c.blueY <= 0 || c.whiteY <= 0)
        return {};
    switch (nclx->transfer_characteristics) {
    case heif_transfer_characteristic_linear:
        return colour::rgbProfile(c, 1.0);
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
        return colour::rgbProfile(c, 2.2);
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        return colour::rgbProfile(c, 2.8);
    default:
        return colour::rgbProfile(c, 0, true);
    }
}

metadata::Read heifMetadata(const heif_image_handle *handle)
{
    const auto block = [handle](const char *type, const char *contentType) {
        const int n = libheif().heif_image_handle_get_number_of_metadata_blocks(handle, type);
        if (n <= 0)
            return QByteArray();
        std::vector<heif_item_id> ids(static_cast<size_t>(n));
        libheif().heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids.data(), n);
        for (const heif_item_id id : ids) {
            if (contentType &&
                std::strcmp(libheif().heif_image_handle_get_metadata_content_type(handle, id),
                            contentType) != 0)
                continue;
            QByteArray bytes(qsizetype(libheif().heif_image_handle_get_metadata_size(handle, id)),
                             Qt::Uninitialized);
            if (!bytes.isEmpty() &&
                libheif().heif_image_handle_get_metadata(handle, id, bytes.data()).code ==
                    heif_error_Ok)
                return bytes;
        }
        return QByteArray();
    };
    return metadata::fromBlocks(block("Exif", nullptr), block("mime", "application/rdf+xml"), true);
}

// libjpeg's errors jump back to where the read began.
struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void jumpBack(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrors *>(cinfo->err)->jump, 1);
}

void noMessages(j_common_ptr, int) {}

// Only plain data lives in this frame, which a jump may leave.
bool readCmykRows(jpeg_decompress_struct &cinfo, JpegErrors &err, const uchar *data, size_t size,
                  const picture_checks::Limits &limits, std::vector<uchar> &rows,
                  unsigned char **icc, unsigned int *iccSize, int &width, int &height,
                  bool &inverted)
{
    if (setjmp(err.jump))
        return false;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.num_components != 4 ||
        (cinfo.jpeg_color_space != JCS_CMYK && cinfo.jpeg_color_space != JCS_YCCK) ||
        !jpeg_read_icc_profile(&cinfo, icc, iccSize))
        return false;
    width = int(cinfo.image_width);
    height = int(cinfo.image_height);
    if (qint64(width) * height > limits.maxPixels ||
        qint64(width) * height * 8 > limits.maxDecodeBytes)
        return false;
    // Adobe's writers store CMYK inverted, and say so with their marker.
    inverted = cinfo.saw_Adobe_marker;
    cinfo.out_color_space = JCS_CMYK;
    jpeg_start_decompress(&cinfo);
    rows.resize(size_t(width) * size_t(height) * 4);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rows.data() + size_t(cinfo.output_scanline) * size_t(width) * 4;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

// zlib data inflated, up to a limit: a compressed profile may claim anything.
QByteArray inflateBounded(const uchar *data, qsizetype size, qsizetype limit)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return {};
    QByteArray out;
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = uInt(std::min<qsizetype>(size, std::numeric_limits<uInt>::max()));
    int status = Z_OK;
    while (status == Z_OK && out.size() < limit) {
        const qsizetype at = out.size();
        out.resize(std::min(limit, at + 65536));
        z.next_out = reinterpret_cast<Bytef *>(out.data() + at);
        z.avail_out = uInt(out.size() - at);
        status = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - qsizetype(z.avail_out));
    }
    inflateEnd(&z);
    return status == Z_STREAM_END ? out : QByteArray();
}

} // namespace

Sniffed sniff(const uchar *data, qsizetype size)
{
    // First bytes and what they name.
    struct Magic {
        const char *bytes;
        qsizetype length;
        Kind kind;
        const char *name;
    };
    static const Magic magics[] = {
        {"\xFF\xD8\xFF", 3, Kind::Jpeg, "JPEG"},
        {"\x89PNG\r\n\x1A\n", 8, Kind::Png, "PNG"},
        {"GIF87a", 6, Kind::Gif, "GIF"},
        {"GIF89a", 6, Kind::Gif, "GIF"},
        {"BM", 2, Kind::Bmp, "BMP"},
        {"\xFF\x0A", 2, Kind::JpegXl, "JPEG XL"},
        {"\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12, Kind::JpegXl, "JPEG XL"},
        {"\0\0\0\x0CjP  \x0D\x0A\x87\x0A", 12, Kind::Foreign, "JPEG 2000"},
        {"\xFF\x4F\xFF\x51", 4, Kind::Foreign, "JPEG 2000"},
        {"8BPS", 4, Kind::Foreign, "PSD"},
        {"gimp xcf", 8, Kind::Foreign, "XCF"},
        {"%PDF", 4, Kind::Foreign, "PDF"},
        {"\x76\x2F\x31\x01", 4, Kind::Foreign, "OpenEXR"},
        {"qoif", 4, Kind::Foreign, "QOI"},
        {"FUJIFILMCCD-RAW", 15, Kind::Foreign, "RAF"},
    };
    if (startsWith(data, size, 0, "RIFF", 4) && startsWith(data, size, 8, "WEBP", 4))
        return {Kind::WebP, QStringLiteral("WebP")};
    // Camera raw files are TIFF structures too.
    if (startsWith(data, size, 0, "II*\0", 4) || startsWith(data, size, 0, "MM\0*", 4))
        return startsWith(data, size, 8, "CR", 2) ? Sniffed{Kind::Foreign, QStringLiteral("CR2")}
                                                  : Sniffed{Kind::Tiff, QStringLiteral("TIFF")};
    for (const Magic &m : magics)
        if (startsWith(data, size, 0, m.bytes, m.length))
            return {m.kind, QString::fromLatin1(m.name)};
    if (startsWith(data, size, 4, "ftyp", 4))
        return sniffIsoMedia(data, size);
    const QByteArray head = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                    std::min<qsizetype>(size, 512));
    if (head.contains("<svg"))
        return {Kind::Foreign, QStringLiteral("SVG")};
    return {};
}

QImage decodeHeif(const uchar *data, qsizetype size, const picture_checks::Limits &limits)
{
    if (!lazy_codecs::heif())
        return {};
    HeifContext heif;
    if (!heif.ctx)
        return {};
    libheif().heif_context_set_maximum_image_size_limit(heif.ctx, 65535);
    if (libheif()
                .heif_context_read_from_memory_without_copy(heif.ctx, data, size_t(size), nullptr)
                .code != heif_error_Ok ||
        libheif().heif_context_get_primary_image_handle(heif.ctx, &heif.handle).code !=
            heif_error_Ok)
        return {};
    const qint64 width = libheif().heif_image_handle_get_width(heif.handle),
                 height = libheif().heif_image_handle_get_height(heif.handle);
    const int bits = std::max(8, libheif().heif_image_handle_get_luma_bits_per_pixel(heif.handle));
    // The decoded planes (up to 16 bits a sample) beside the 8-bit picture.
    const qint64 planeBytes = width * height * 3 * ((bits + 7) / 8);
    if (width <= 0 || height <= 0 || width * height > limits.maxPixels ||
        width * height * 4 + planeBytes > limits.maxDecodeBytes)
        return {};
    // Nothing decoded on the way may be much larger than the picture itself:
    // a grid says its own size apart from the picture's, and libheif would
    // allocate what it says. (A grid is cropped to the picture by less than
    // a tile; a coded picture is padded by a few pixels.)
    libheif().heif_context_set_maximum_image_size_limit(heif.ctx,
                                                        int(std::max(width, height)) + 1024);
    const bool alpha = libheif().heif_image_handle_has_alpha_channel(heif.handle);
    const std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options *)> options(
        libheif().heif_decoding_options_alloc(), libheif().heif_decoding_options_free);
    if (!options)
        return {};
    options->convert_hdr_to_8bit = 1;
    heif_image *decoded = nullptr;
    if (libheif()
                .heif_decode_image(heif.handle, &decoded, heif_colorspace_RGB,
                                   alpha ? heif_chroma_interleaved_RGBA
                                         : heif_chroma_interleaved_RGB,
                                   options.get())
                .code != heif_error_Ok ||
        !decoded)
        return {};
    int stride = 0;
    uint8_t *pixels = libheif().heif_image_get_plane(decoded, heif_channel_interleaved, &stride);
    const int w = libheif().heif_image_get_width(decoded, heif_channel_interleaved),
              h = libheif().heif_image_get_height(decoded, heif_channel_interleaved);
    if (!pixels || w <= 0 || h <= 0) {
        libheif().heif_image_release(decoded);
        return {};
    }
    // The picture keeps libheif's pixels and lets them go with its last copy.
    QImage picture(
        pixels, w, h, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
        [](void *image) { libheif().heif_image_release(static_cast<heif_image *>(image)); },
        decoded);
    colour::adopt(picture, heifProfile(heif.handle));
    metadata::attach(picture, heifMetadata(heif.handle).blocks);
    return picture;
}

QImage decodeJpegXl(const uchar *data, qsizetype size, const picture_checks::Limits &limits)
{
    if (!lazy_codecs::jxl())
        return {};
    const std::unique_ptr<JxlDecoder, void (*)(JxlDecoder *)> dec(
        libjxl().JxlDecoderCreate(nullptr), libjxl().JxlDecoderDestroy);
    const std::unique_ptr<void, void (*)(void *)> runner(
        libjxl().JxlThreadParallelRunnerCreate(nullptr, 2),
        libjxl().JxlThreadParallelRunnerDestroy);
    if (!dec || !runner ||
        libjxl().JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                          JXL_DEC_FULL_IMAGE | JXL_DEC_BOX) !=
            JXL_DEC_SUCCESS ||
        libjxl().JxlDecoderSetDecompressBoxes(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        libjxl().JxlDecoderSetParallelRunner(dec.get(), libjxl().JxlThreadParallelRunner,
                                             runner.get()) != JXL_DEC_SUCCESS ||
        libjxl().JxlDecoderSetInput(dec.get(), data, size_t(size)) != JXL_DEC_SUCCESS)
        return {};
    libjxl().JxlDecoderCloseInput(dec.get());
    JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 4};
    QImage picture;
    QByteArray icc;
    bool grey = false, alpha = false;
    // The Exif and XMP boxes met before the first frame, into growing buffers.
    QByteArray exif, xmp;
    QByteArray *box = nullptr;
    // The box's buffer runs from what is filled to the end of its bytes.
    const auto fillBoxFrom = [&](qsizetype filled) {
        return libjxl().JxlDecoderSetBoxBuffer(dec.get(),
                                               reinterpret_cast<uint8_t *>(box->data()) + filled,
                                               size_t(box->size() - filled)) == JXL_DEC_SUCCESS;
    };
    const auto endBox = [&] {
        if (box)
            box->resize(box->size() - qsizetype(libjxl().JxlDecoderReleaseBoxBuffer(dec.get())));
        box = nullptr;
    };
    for (;;) {
        const JxlDecoderStatus status = libjxl().JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT && box) {
            // Metadata larger than this is no metadata worth keeping.
            const qsizetype filled =
                box->size() - qsizetype(libjxl().JxlDecoderReleaseBoxBuffer(dec.get()));
            if (box->size() >= (16 << 20))
                return {};
            box->resize(box->size() * 2);
            if (!fillBoxFrom(filled))
                return {};
            continue;
        }
        endBox();
        if (status == JXL_DEC_BOX) {
            JxlBoxType type;
            if (libjxl().JxlDecoderGetBoxType(dec.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS)
                return {};
            const QByteArray name(type, 4);
            box = name == "Exif" ? &exif : name == "xml " ? &xmp : nullptr;
            if (box) {
                box->resize(1 << 16);
                if (!fillBoxFrom(0))
                    return {};
            }
        } else if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info;
            if (libjxl().JxlDecoderGetBasicInfo(dec.get(), &info) != JXL_DEC_SUCCESS)
                return {};
            const qint64 w = info.xsize, h = info.ysize;
            // The decoder's own frame buffers are floating point, 3 or 4 channels.
            if (w <= 0 || h <= 0 || w * h > limits.maxPixels ||
                w * h * (4 + 16) > limits.maxDecodeBytes * 2)
                return {};
            grey = info.num_color_channels == 1;
            alpha = info.alpha_bits > 0;
            format.num_channels = grey ? (alpha ? 2 : 1) : 4;
            const QSize shown = info.orientation >= JXL_ORIENT_TRANSPOSE ? QSize(int(h), int(w))
                                                                         : QSize(int(w), int(h));
            picture = QImage(shown, grey && !alpha ? QImage::Format_Grayscale8
                                    : grey         ? QImage::Format_Grayscale16
                                                   : QImage::Format_RGBA8888);
            if (picture.isNull())
                return {};
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            size_t n = 0;
            if (libjxl().JxlDecoderGetICCProfileSize(
                    dec.get(), &format, JXL_COLOR_PROFILE_TARGET_DATA, &n) == JXL_DEC_SUCCESS &&
                n > 0) {
                icc.resize(qsizetype(n));
                if (libjxl().JxlDecoderGetColorAsICCProfile(
                        dec.get(), &format, JXL_COLOR_PROFILE_TARGET_DATA,
                        reinterpret_cast<uint8_t *>(icc.data()), n) != JXL_DEC_SUCCESS)
                    icc.clear();
            }
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            size_t needed = 0;
            if (picture.isNull() ||
                libjxl().JxlDecoderImageOutBufferSize(dec.get(), &format, &needed) !=
                    JXL_DEC_SUCCESS ||
                needed > size_t(picture.sizeInBytes()) ||
                libjxl().JxlDecoderSetImageOutBuffer(dec.get(), &format, picture.bits(),
                                                     size_t(picture.sizeInBytes())) !=
                    JXL_DEC_SUCCESS)
                return {};
        } else if (status == JXL_DEC_FULL_IMAGE || status == JXL_DEC_SUCCESS) {
            break; // the first frame is the picture
        } else {
            return {};
        }
    }
    if (picture.isNull())
        return {};
    if (grey && alpha) {
        // Grey and alpha pairs of bytes, as a Grayscale16 image holds them: spread to ARGB.
        QImage spread(picture.size(), QImage::Format_ARGB32);
        for (int y = 0; y < picture.height(); ++y) {
            const uchar *in = picture.constScanLine(y);
            auto *out = reinterpret_cast<QRgb *>(spread.scanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                out[x] = qRgba(in[2 * qsizetype(x)], in[2 * qsizetype(x)], in[2 * qsizetype(x)],
                               in[2 * qsizetype(x) + 1]);
        }
        picture = spread;
    }
    if (!alpha && !grey)
        picture = picture.convertToFormat(QImage::Format_RGBX8888);
    colour::adopt(picture, icc);
    metadata::attach(picture, metadata::fromBlocks(exif, xmp, true).blocks);
    return picture;
}

QImage decodeProfiledCmykJpeg(const uchar *data, qsizetype size,
                              const picture_checks::Limits &limits)
{
    jpeg_decompress_struct cinfo{};
    JpegErrors err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = jumpBack;
    err.base.emit_message = noMessages;
    std::vector<uchar> rows;
    unsigned char *icc = nullptr;
    unsigned int iccSize = 0;
    int width = 0, height = 0;
    bool inverted = false;
    const bool read = readCmykRows(cinfo, err, data, size_t(size), limits, rows, &icc, &iccSize,
                                   width, height, inverted);
    jpeg_destroy_decompress(&cinfo);
    const QByteArray profile(reinterpret_cast<const char *>(icc), qsizetype(icc ? iccSize : 0));
    std::free(icc);
    if (!read)
        return {};
    QImage picture =
        colour::cmykToSrgb(rows.data(), width, height, qsizetype(width) * 4, profile, inverted);
    if (picture.isNull())
        return {};
    const metadata::Read meta = metadata::read(data, size);
    picture = upright(picture, meta.orientation);
    metadata::attach(picture, meta.blocks);
    return picture;
}

bool qtMisreadsPng(const uchar *data, qsizetype size)
{
    if (!startsWith(data, size, 0, "\x89PNG\r\n\x1A\n", 8) || size < 33 ||
        !startsWith(data, size, 12, "IHDR", 4))
        return false;
    const int depth = data[24], colourType = data[25];
    if (colourType != 3 && !(colourType == 2 && depth == 16))
        return false;
    for (qsizetype at = 8; at + 12 <= size;) {
        const quint32 length = be32(data + at);
        if (length > quint32(size - at - 12) || startsWith(data, size, at + 4, "IDAT", 4))
            return false;
        if (colourType == 2 && startsWith(data, size, at + 4, "tRNS", 4))
            return true;
        if (colourType == 3 && startsWith(data, size, at + 4, "PLTE", 4))
            return depth <= 8 && length / 3 < (1u << depth);
        at += 12 + qsizetype(length);
    }
    return false;
}

namespace
{
struct PngSource {
    const uchar *data;
    qsizetype size, at;
};

[[noreturn]] void pngFailed(png_structp png, png_const_charp)
{
    std::longjmp(png_jmpbuf(png), 1);
}
void pngWarned(png_structp, png_const_charp) {}
} // namespace

namespace
{
// The reading itself, with libpng's jump point in a frame of its own so
// that what outlives a failure belongs to the caller.
bool readPng(png_structp png, png_infop info, const picture_checks::Limits &limits, QImage &picture,
             std::vector<png_bytep> &rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info),
                      height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || qint64(width) * height > limits.maxPixels ||
        qint64(width) * height * 8 > limits.maxDecodeBytes)
        return false;
    const bool deep = png_get_bit_depth(png, info) == 16;
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, deep ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    // QImage keeps 16-bit samples in the machine's order.
    if (deep && QSysInfo::ByteOrder == QSysInfo::LittleEndian)
        png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * (deep ? 8 : 4))
        return false;
    picture =
        QImage(int(width), int(height), deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    if (picture.isNull())
        return false;
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = picture.scanLine(int(y));
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return true;
}
} // namespace

QImage decodePng(const uchar *data, qsizetype size, const picture_checks::Limits &limits)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, pngWarned);
    if (!png)
        return {};
    png_infop info = png_create_info_struct(png);
    PngSource source{data, size, 0};
    png_set_read_fn(png, &source, [](png_structp p, png_bytep into, size_t n) {
        auto *s = static_cast<PngSource *>(png_get_io_ptr(p));
        if (qsizetype(n) > s->size - s->at)
            png_error(p, "truncated");
        std::memcpy(into, s->data + s->at, n);
        s->at += qsizetype(n);
    });
    QImage picture;
    std::vector<png_bytep> rows;
    const bool read = info && readPng(png, info, limits, picture, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return read ? picture : QImage();
}

QByteArray pngProfile(const uchar *data, qsizetype size)
{
    if (!startsWith(data, size, 0, "\x89PNG\r\n\x1A\n", 8))
        return {};
    double gamma = 0;
    bool chromaticities = false;
    colour::Chromaticities c;
    for (qsizetype at = 8; at + 12 <= size;) {
        const quint32 length = be32(data + at);
        const QByteArray type(reinterpret_cast<const char *>(data + at + 4), 4);
        const uchar *body = data + at + 8;
        if (length > quint32(size - at - 12) || type == "IDAT" || type == "IEND")
            break;
        if (type == "iCCP") {
            const auto *name =
                static_cast<const uchar *>(std::memchr(body, 0, std::min(length, 80u)));
            if (!name || name + 2 > body + length)
                return {};
            // A profile larger than this is no real one.
            return inflateBounded(name + 2, body + length - (name + 2), 4 << 20);
        }
        if (type == "sRGB")
            return {};
        if (type == "gAMA" && length == 4 && be32(body) > 0)
            gamma = 100000.0 / be32(body);
        if (type == "cHRM" && length == 32) {
            double *v[8] = {&c.whiteX, &c.whiteY, &c.redX,  &c.redY,
                            &c.greenX, &c.greenY, &c.blueX, &c.blueY};
            for (int i = 0; i < 8; ++i)
                *v[i] = be32(body + 4 * qsizetype(i)) / 100000.0;
            chromaticities = c.whiteY > 0 && c.redY > 0 && c.greenY > 0 && c.blueY > 0;
        }
        at += 12 + qsizetype(length);
    }
    if (gamma <= 0 || gamma > 10)
        return {};
    return colour::rgbProfile(chromaticities ? c : colour::Chromaticities(), gamma);
}

QImage upright(const QImage &picture, int orientation)
{
    switch (orientation) {
    case 2:
        return picture.mirrored(true, false);
    case 3:
        return picture.transformed(QTransform().rotate(180));
    case 4:
        return picture.mirrored(false, true);
    case 5:
        return picture.mirrored(true, false).transformed(QTransform().rotate(270));
    case 6:
        return picture.transformed(QTransform().rotate(90));
    case 7:
        return picture.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return picture.transformed(QTransform().rotate(270));
    default:
        return picture;
    }
}

} // namespace platform::picture_formats
