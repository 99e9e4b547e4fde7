// The pictures people bring: their colour profiles kept or applied, their
// metadata kept as chosen, the formats phones and the web give, and files
// that cannot be read said so by kind. Files are made here with the
// libraries and Qt's own writers; colours are judged through lcms2.
#include "core/runtime.h"
#include "document/picture_document.h"
#include "files.h"
#include "picture_files/picture_choices.h"
#include "platform/picture_io/colour_profiles.h"
#include "platform/picture_io/picture_loader.h"
#include "widgets/definitions.h"
#include "widgets/flatten.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <exiv2/exiv2.hpp>
#include <jxl/encode.h>
#include <lcms2.h>
#include <libheif/heif.h>
#include <zlib.h>

#include <cmath>
#include <jpeglib.h>

using namespace platform;

namespace
{

// Display P3 and Adobe RGB (1998), as phones and cameras embed them.
// Each made once: a profile's header holds the second it was made in, and
// a picture's profile is compared with these byte for byte.
QByteArray displayP3()
{
    static const QByteArray profile = [] {
        colour::Chromaticities c;
        c.redX = 0.680, c.redY = 0.320, c.greenX = 0.265, c.greenY = 0.690;
        c.blueX = 0.150, c.blueY = 0.060;
        return colour::rgbProfile(c, 0, true);
    }();
    return profile;
}

QByteArray adobeRgb()
{
    static const QByteArray profile = [] {
        colour::Chromaticities c;
        c.greenX = 0.21, c.greenY = 0.71;
        return colour::rgbProfile(c, 563.0 / 256.0);
    }();
    return profile;
}

// Flat patches on the 16-pixel grid JPEG codes in, of saturated and everyday
// colours, and a row of greys: what a wide gamut changes most.
QImage patches(bool inSrgbGamut = false)
{
    const QList<QRgb> colours{0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00,
                              0xffff00ff, 0xff00ffff, 0xffc70036, 0xff2e8b57,
                              0xffe0a080, 0xff804020, 0xff203060, 0xff90c0f0,
                              0xff101010, 0xff808080, 0xffd0d0d0, 0xffffffff};
    QImage img(256, 64, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, y < 32 ? colours[x / 16] : qRgb(x, x, x));
    // Saturated colours of a wide gamut have no sRGB equal: brought in
    // towards grey where the picture is to become sRGB.
    if (inSrgbGamut)
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb c = img.pixel(x, y);
                img.setPixel(
                    x, y,
                    qRgb(72 + qRed(c) * 5 / 10, 72 + qGreen(c) * 5 / 10, 72 + qBlue(c) * 5 / 10));
            }
    return img;
}

// The segment a JPEG embeds a profile in, right after its start.
QByteArray withIcc(const QByteArray &jpeg, const QByteArray &icc)
{
    const QByteArray payload = QByteArray("ICC_PROFILE\0\x01\x01", 14) + icc;
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xFF\xE2");
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    return jpeg.left(2) + segment + payload + jpeg.mid(2);
}

QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    const QByteArray body = QByteArray(type, 4) + data;
    QByteArray crc(4, '\0');
    qToBigEndian(
        quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))),
        crc.data());
    return chunk + body + crc;
}

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

// Chunks right after the header chunk, where colour chunks belong.
QByteArray withChunks(const QByteArray &png, const QByteArray &chunks)
{
    return png.left(33) + chunks + png.mid(33);
}

QByteArray iccpChunk(const QByteArray &icc)
{
    uLongf size = compressBound(uLong(icc.size()));
    QByteArray packed(qsizetype(size), '\0');
    compress2(reinterpret_cast<Bytef *>(packed.data()), &size,
              reinterpret_cast<const Bytef *>(icc.constData()), uLong(icc.size()), 9);
    packed.truncate(qsizetype(size));
    return pngChunk("iCCP", QByteArray("P3\0\0", 4) + packed);
}

QByteArray bytesOf(const QImage &img, const char *format, int quality = 95)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, format, quality);
    return bytes;
}

struct DeltaE {
    double mean = 0, max = 0;
};

using Profile = std::unique_ptr<void, decltype(&cmsCloseProfile)>;

Profile openProfile(const QByteArray &icc)
{
    return Profile(icc.isEmpty()
                       ? cmsCreate_sRGBProfile()
                       : cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())),
                   cmsCloseProfile);
}

// Each pixel as Lab, through the profile (sRGB where there is none).
QList<cmsCIELab> toLab(const void *pixels, int count, cmsUInt32Number type, const QByteArray &icc)
{
    const Profile from = openProfile(icc);
    const Profile lab(cmsCreateLab4Profile(nullptr), cmsCloseProfile);
    const cmsHTRANSFORM t = cmsCreateTransform(from.get(), type, lab.get(), TYPE_Lab_DBL,
                                               INTENT_RELATIVE_COLORIMETRIC, 0);
    QList<cmsCIELab> out(count);
    cmsDoTransform(t, pixels, out.data(), cmsUInt32Number(count));
    cmsDeleteTransform(t);
    return out;
}

// Where a colour is judged: inside the 16-pixel patches, away from the
// ringing at their edges that any JPEG at 95 has, whatever its colours.
// (The grey ramp below them is there for the encoder's choices, not judged.)
bool judged(int x, int y)
{
    return y < 32 && x % 16 >= 4 && x % 16 < 12 && y % 16 >= 4 && y % 16 < 12;
}

QList<cmsCIELab> toLab(const QImage &img, const QByteArray &icc)
{
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    QList<QRgb> pixels;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            if (judged(x, y))
                pixels << rgb.pixel(x, y);
    return toLab(pixels.constData(), int(pixels.size()), TYPE_BGRA_8, icc);
}

DeltaE compare(const QList<cmsCIELab> &a, const QList<cmsCIELab> &b)
{
    DeltaE d;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const double e = cmsCIE2000DeltaE(&a[i], &b[i], 1, 1, 1);
        d.mean += e / double(a.size());
        d.max = std::max(d.max, e);
    }
    return d;
}

// A CMYK JPEG as press tools write it: Adobe's marker, samples inverted.
QByteArray cmykJpeg(const QList<std::array<uchar, 4>> &inks, int width, int height,
                    const QByteArray &icc)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, JCS_YCCK);
    jpeg_set_quality(&cinfo, 98, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    jpeg_write_icc_profile(&cinfo, reinterpret_cast<const JOCTET *>(icc.constData()),
                           unsigned(icc.size()));
    std::vector<uchar> row(size_t(width) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                row[size_t(x) * 4 + size_t(c)] = uchar(255 - inks[x / 16][size_t(c)]);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

// Four quadrants told apart after any turn: red, green / blue, white.
QImage quadrants(int width, int height)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y,
                         y < height / 2 ? (x < width / 2 ? 0xffff0000 : 0xff00ff00)
                                        : (x < width / 2 ? 0xff0000ff : 0xffffffff));
    return img;
}

bool near(QRgb a, QRgb b, int tolerance = 40)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// An Exif TIFF structure naming the camera.
QByteArray cameraExif()
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Hollowphone";
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

// HEIC or AVIF through libheif, stored sideways and marked to be turned 90°
// clockwise; empty where this libheif has no such encoder.
QByteArray heifFile(heif_compression_format format, const QImage &stored)
{
    heif_context *ctx = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, format, &encoder).code != heif_error_Ok) {
        heif_context_free(ctx);
        return {};
    }
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_image *image = nullptr;
    heif_image_create(stored.width(), stored.height(), heif_colorspace_RGB,
                      heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, stored.width(), stored.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const QImage rgb = stored.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    heif_encoding_options *options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    heif_image_handle *handle = nullptr;
    heif_context_encode_image(ctx, image, encoder, options, &handle);
    const QByteArray exif = cameraExif();
    heif_context_add_exif_metadata(ctx, handle, exif.constData(), int(exif.size()));
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context *, const void *data, size_t size, void *out) {
        static_cast<QByteArray *>(out)->append(static_cast<const char *>(data), qsizetype(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    heif_context_write(ctx, &writer, &bytes);
    heif_context_free(ctx);
    return bytes;
}

// A lossless JPEG XL, marked to be turned 90° clockwise.
QByteArray jxlFile(const QImage &stored)
{
    JxlEncoder *enc = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(stored.width());
    info.ysize = uint32_t(stored.height());
    info.bits_per_sample = 8;
    info.uses_original_profile = JXL_TRUE;
    info.orientation = JXL_ORIENT_ROTATE_90_CW;
    JxlEncoderSetBasicInfo(enc, &info);
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    JxlEncoderSetColorEncoding(enc, &srgb);
    // The camera's Exif before the picture, as cameras' converters put it.
    JxlEncoderUseBoxes(enc);
    const QByteArray exif = QByteArray(4, '\0') + cameraExif();
    JxlEncoderAddBox(enc, "Exif", reinterpret_cast<const uint8_t *>(exif.constData()),
                     size_t(exif.size()), JXL_FALSE);
    JxlEncoderCloseBoxes(enc);
    JxlEncoderFrameSettings *settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
    JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    const QImage rgb = stored.convertToFormat(QImage::Format_RGB888);
    QByteArray packed;
    for (int y = 0; y < rgb.height(); ++y)
        packed.append(reinterpret_cast<const char *>(rgb.constScanLine(y)),
                      qsizetype(rgb.width()) * 3);
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlEncoderAddImageFrame(settings, &format, packed.constData(), size_t(packed.size()));
    JxlEncoderCloseInput(enc);
    QByteArray out(1 << 16, '\0');
    uint8_t *next = reinterpret_cast<uint8_t *>(out.data());
    size_t avail = size_t(out.size());
    while (JxlEncoderProcessOutput(enc, &next, &avail) == JXL_ENC_NEED_MORE_OUTPUT) {
        const qsizetype used = next - reinterpret_cast<uint8_t *>(out.data());
        out.resize(out.size() * 2);
        next = reinterpret_cast<uint8_t *>(out.data()) + used;
        avail = size_t(out.size() - used);
    }
    out.truncate(next - reinterpret_cast<uint8_t *>(out.data()));
    JxlEncoderDestroy(enc);
    return out;
}

} // namespace

class TestPictureFormats : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString at(const QString &name) { return dir.filePath(name); }
    QtPictureLoader loader;

    // Loads as Open does and writes as Save does, at quality 95.
    QByteArray
    throughTheProgram(const QString &source,
                      picture_files::ColourChoice colour = picture_files::ColourChoice::Keep)
    {
        const QImage loaded = picture_files::asChosen(
            flattenOnto(loader.load(source), defs::color(defs::PictureBackground)),
            {colour, metadata::Choice::Safe});
        const QString out = source + QStringLiteral(".out.jpg");
        if (save(loaded, out, 95) != WriteResult::Written)
            return {};
        return read(out);
    }

private slots:
    // Our output, decoded plainly and seen through the profile it embeds,
    // against the source seen through its own.
    void colourLooksTheSameAfterTheSave_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("keepsProfile");
        QTest::newRow("JPEG, Display P3") << "jpeg-p3" << true;
        QTest::newRow("JPEG, Adobe RGB") << "jpeg-adobe" << true;
        QTest::newRow("PNG, P3 iCCP") << "png-p3" << true;
        QTest::newRow("PNG, gAMA and cHRM") << "png-gama-chrm" << true;
        QTest::newRow("PNG, sRGB chunk") << "png-srgb" << false;
        QTest::newRow("JPEG, Display P3, converted to sRGB") << "jpeg-p3-to-srgb" << false;
    }
    void colourLooksTheSameAfterTheSave()
    {
        QFETCH(QString, kind);
        QFETCH(bool, keepsProfile);
        const QImage source = patches(kind.endsWith("to-srgb"));
        QByteArray icc = kind.contains("adobe") ? adobeRgb() : displayP3();
        const QString path = at(kind);
        if (kind.startsWith("jpeg")) {
            write(path, withIcc(bytesOf(source, "JPEG", 100), icc));
        } else if (kind == "png-p3") {
            write(path, withChunks(bytesOf(source, "PNG"), iccpChunk(icc)));
        } else if (kind == "png-gama-chrm") {
            // Gamma 1.8 on Adobe's primaries, as old Mac tools wrote them.
            colour::Chromaticities c;
            c.greenX = 0.21, c.greenY = 0.71;
            icc = colour::rgbProfile(c, 1.8);
            const QByteArray chrm = be32(31270) + be32(32900) + be32(64000) + be32(33000) +
                                    be32(21000) + be32(71000) + be32(15000) + be32(6000);
            write(path, withChunks(bytesOf(source, "PNG"),
                                   pngChunk("gAMA", be32(55556)) + pngChunk("cHRM", chrm)));
        } else {
            icc.clear();
            write(path, withChunks(bytesOf(source, "PNG"), pngChunk("sRGB", QByteArray(1, '\0'))));
        }
        // The source pixels are those a plain decode gives (JPEG's own loss aside).
        QImage sourcePixels;
        QVERIFY(sourcePixels.loadFromData(read(path)));

        const QByteArray written =
            throughTheProgram(path, kind.endsWith("to-srgb") ? picture_files::ColourChoice::Srgb
                                                             : picture_files::ColourChoice::Keep);
        QVERIFY(!written.isEmpty());
        QImage ours;
        QVERIFY(ours.loadFromData(written, "JPEG"));
        const QByteArray embedded = ours.colorSpace().iccProfile();
        QCOMPARE(!embedded.isEmpty() && !colour::isSrgb(embedded), keepsProfile);
        const DeltaE d =
            compare(toLab(sourcePixels, icc), toLab(ours, keepsProfile ? embedded : QByteArray()));
        QVERIFY2(d.mean < 1 && d.max < 3,
                 qPrintable(QStringLiteral("mean %1, max %2").arg(d.mean).arg(d.max)));
    }

    // A press CMYK JPEG with its profile: as a colour-managed viewer shows it.
    void cmykThroughItsProfile()
    {
        const QString pressProfile =
            QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");
        const QByteArray icc = read(pressProfile);
        QVERIFY2(!icc.isEmpty(), "libgs-common's CMYK profile");
        const QList<std::array<uchar, 4>> inks{{0, 0, 0, 0},     {255, 0, 0, 0},   {0, 255, 0, 0},
                                               {0, 0, 255, 0},   {0, 0, 0, 255},   {255, 255, 0, 0},
                                               {0, 200, 200, 0}, {40, 60, 80, 20}, {10, 30, 50, 0},
                                               {128, 0, 128, 60}};
        const QString path = at("press.jpg");
        write(path, cmykJpeg(inks, 16 * int(inks.size()), 32, icc));
        const QByteArray written = throughTheProgram(path);
        QImage ours;
        QVERIFY(ours.loadFromData(written, "JPEG"));
        QCOMPARE(ours.size(), QSize(16 * int(inks.size()), 32));
        QVERIFY(ours.colorSpace().iccProfile().isEmpty() ||
                colour::isSrgb(ours.colorSpace().iccProfile()));
        // A colour-managed decode: the inks through the profile, to sRGB.
        QList<std::array<uchar, 4>> samples;
        for (int y = 0; y < ours.height(); ++y)
            for (int x = 0; x < ours.width(); ++x)
                samples << inks[x / 16];
        const QImage reference =
            colour::cmykToSrgb(samples.front().data(), ours.width(), ours.height(),
                               qsizetype(ours.width()) * 4, icc, false);
        const DeltaE d = compare(toLab(reference, {}), toLab(ours, {}));
        QVERIFY2(d.mean < 1 && d.max < 3,
                 qPrintable(QStringLiteral("mean %1, max %2").arg(d.mean).arg(d.max)));
    }

    // The main window shows what a colour-managed viewer shows; Save writes
    // the picture's own pixels with its profile.
    void aWideGamutPictureIsShownInSrgb()
    {
        const QString path = at("shown-p3.jpg");
        write(path, withIcc(bytesOf(patches(), "JPEG", 100), displayP3()));
        PictureDocument doc;
        doc.setPicture(loader.load(path));
        QCOMPARE(colour::profileOf(doc.picture()), displayP3());
        QVERIFY(colour::profileOf(doc.shownPicture()).isEmpty());
        // P3's red lies outside sRGB: shown as sRGB's own red, while the
        // P3 pixel itself stays (255, 0, 0) for the file.
        QVERIFY(near(doc.picture().pixel(8, 8), 0xffff0000, 8));
        const DeltaE d = compare(toLab(doc.picture(), displayP3()), toLab(doc.shownPicture(), {}));
        QVERIFY2(d.mean < 3, qPrintable(QString::number(d.mean)));
        // The dark red (199, 0, 54) lies inside sRGB: shown as P3 means it, not as sRGB would.
        const QRgb shown = doc.shownPicture().pixel(8 + 6 * 16, 8);
        QVERIFY2(qRed(shown) > 210 && !near(shown, doc.picture().pixel(8 + 6 * 16, 8), 8),
                 qPrintable(QString::number(shown, 16)));
        // An sRGB picture is shown as it is.
        doc.setPicture(patches());
        QCOMPARE(doc.shownPicture().pixel(8 + 6 * 16, 8), patches().pixel(8 + 6 * 16, 8));
    }

    void formatsOpenUprightAtTheirSize_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *k : {"heic", "avif", "jxl", "webp", "tiff", "tiff16"})
            QTest::newRow(k) << QString::fromLatin1(k);
    }
    void formatsOpenUprightAtTheirSize()
    {
        QFETCH(QString, kind);
        // Stored 96×64, shown turned 90° clockwise: 64×96, blue top left.
        const QImage stored = quadrants(96, 64);
        const QString path = at("turned." + kind);
        bool turned = true;
        if (kind == "heic" || kind == "avif") {
            const QByteArray bytes =
                heifFile(kind == "heic" ? heif_compression_HEVC : heif_compression_AV1, stored);
            if (bytes.isEmpty())
                QSKIP("this libheif has no encoder for the format");
            write(path, bytes);
        } else if (kind == "jxl") {
            write(path, jxlFile(stored));
        } else if (kind == "webp") {
            QVERIFY(stored.save(path, "WEBP", 100));
            turned = false;
        } else {
            QImageWriter w(path, "tiff");
            w.setTransformation(QImageIOHandler::TransformationRotate90);
            QVERIFY(
                w.write(kind == "tiff16" ? stored.convertToFormat(QImage::Format_RGBX64) : stored));
        }
        QVERIFY(loader.isPicture(path));
        const QImage loaded = flattenOnto(loader.load(path), Qt::white);
        QCOMPARE(loaded.size(), turned ? QSize(64, 96) : QSize(96, 64));
        const QRgb topLeft = loaded.pixel(4, 4), topRight = loaded.pixel(loaded.width() - 5, 4);
        QVERIFY2(near(topLeft, turned ? 0xff0000ff : 0xffff0000),
                 qPrintable(QString::number(topLeft, 16)));
        QVERIFY2(near(topRight, turned ? 0xffff0000 : 0xff00ff00),
                 qPrintable(QString::number(topRight, 16)));
        // The camera's tags come along where the format has them.
        if (kind == "heic" || kind == "avif" || kind == "jxl")
            QVERIFY(metadata::of(loader.load(path)).exif.contains("Hollowphone"));
        // Written as any other picture.
        QCOMPARE(save(flattenOnto(loader.load(path), Qt::white), path + ".jpg"),
                 WriteResult::Written);
    }

    // HEIF and JPEG XL libraries, with their codecs, are loaded by a
    // conversion of such a picture and by nothing else; other pictures
    // load only their own Qt reader. The converted picture is the right way up.
    void codecsAreLoadedForTheirPicturesOnly_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("loads");
        QTest::addColumn<QStringList>("leaves");
        const QStringList heavy{"libheif.so", "libjxl.so", "libde265.so", "libhwy.so"},
            plugins{"libqtiff.so", "libqwebp.so", "libqmng.so"};
        QTest::newRow("heic") << "heic" << QStringList{"libheif.so"}
                              << QStringList{"libjxl.so", "libhwy.so"} + plugins;
        QTest::newRow("jxl") << "jxl" << QStringList{"libjxl.so"}
                             << QStringList{"libheif.so", "libde265.so"} + plugins;
        QTest::newRow("png") << "png" << QStringList{} << heavy + plugins;
        QTest::newRow("bmp") << "bmp" << QStringList{} << heavy + plugins;
        QTest::newRow("jpeg") << "jpeg" << QStringList{"libqjpeg.so"} << heavy + plugins;
    }

    void codecsAreLoadedForTheirPicturesOnly()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, loads);
        QFETCH(QStringList, leaves);
        const QImage stored = quadrants(96, 64);
        const QString path = at("codecs." + kind);
        bool turned = true;
        if (kind == "heic") {
            const QByteArray bytes = heifFile(heif_compression_HEVC, stored);
            if (bytes.isEmpty())
                QSKIP("this libheif has no HEVC encoder");
            write(path, bytes);
        } else if (kind == "jxl") {
            write(path, jxlFile(stored));
        } else {
            write(path,
                  bytesOf(stored, kind == "jpeg" ? "JPEG" : kind.toUpper().toLatin1().data()));
            turned = false;
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_DEBUG", "files");
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("MIPOQUIBBO_EXE"),
                {"--quality", "80", "--output", at("codecs-" + kind + ".jpg"), path});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QString loaded = QString::fromLocal8Bit(p.readAllStandardError());
        const auto opened = [&](const QString &library) {
            return loaded.contains(
                QRegularExpression("file=[^ ]*" + QRegularExpression::escape(library)));
        };
        for (const QString &library : loads)
            QVERIFY2(opened(library), qPrintable(library));
        for (const QString &library : leaves)
            QVERIFY2(!opened(library), qPrintable(library));
        const QImage written(at("codecs-" + kind + ".jpg"));
        QCOMPARE(written.size(), turned ? QSize(64, 96) : QSize(96, 64));
        QVERIFY2(near(written.pixel(4, 4), turned ? 0xff0000ff : 0xffff0000),
                 qPrintable(QString::number(written.pixel(4, 4), 16)));
    }

    // A kind of file read nowhere here is told from a damaged picture.
    void unreadableFilesSayWhy()
    {
        write(at("layers.psd"),
              QByteArray("8BPS\0\x01\0\0\0\0\0\0\0\x03", 14) + QByteArray(200, 'x'));
        write(at("notes.txt"), "just some notes\n");
        QByteArray heic = heifFile(heif_compression_HEVC, quadrants(96, 64));
        if (heic.isEmpty())
            heic = QByteArray("\0\0\0\x18"
                              "ftypheic\0\0\0\0mif1heic",
                              24);
        write(at("cut.heic"), heic.left(heic.size() / 2));
        write(at("cut.jpg"), bytesOf(patches(), "JPEG").left(600));
        const auto reason = [&](const QString &name) {
            try {
                loader.load(at(name));
            } catch (const rt::RuntimeError &e) {
                return picture_files::unreadableReason(e);
            }
            return QStringLiteral("opened");
        };
        QCOMPARE(reason("layers.psd"), QStringLiteral("この形式（PSD）の画像は開けません"));
        QCOMPARE(reason("notes.txt"), QStringLiteral("画像ファイルではありません"));
        QCOMPARE(reason("cut.heic"),
                 QStringLiteral("読める画像ではありません（壊れているか大きすぎます）"));
        QCOMPARE(reason("cut.jpg"),
                 QStringLiteral("読める画像ではありません（壊れているか大きすぎます）"));
        QCOMPARE(reason("missing.png"), QStringLiteral("ファイルがありません"));
    }

    // A phone photo's tags through the converter, as each choice keeps them.
    void metadataAsChosen_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::newRow("safe (default)") << QString();
        QTest::newRow("safe") << "safe";
        QTest::newRow("all") << "all";
        QTest::newRow("none") << "none";
    }
    void metadataAsChosen()
    {
        QFETCH(QString, choice);
        // Stored sideways, to be turned: orientation 6.
        const QString photo = at("phone.jpg");
        QVERIFY(quadrants(96, 64).save(photo, "JPEG", 95));
        {
            auto image = Exiv2::ImageFactory::open(photo.toStdString());
            image->readMetadata();
            Exiv2::ExifData &exif = image->exifData();
            exif["Exif.Image.Make"] = "Hollowphone";
            exif["Exif.Image.Model"] = "HP 12";
            exif["Exif.Image.Orientation"] = uint16_t(6);
            exif["Exif.Image.Artist"] = "Aiko";
            exif["Exif.Image.Copyright"] = "(c) Aiko";
            exif["Exif.Photo.DateTimeOriginal"] = "2026:11:03 09:41:00";
            exif["Exif.Photo.FNumber"] = Exiv2::URational(18, 10);
            exif["Exif.Photo.LensModel"] = "Wide 26mm";
            exif["Exif.Photo.BodySerialNumber"] = "SN-0042";
            exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
            exif["Exif.GPSInfo.GPSLatitude"] = "35/1 41/1 0/1";
            const QByteArray thumb = bytesOf(quadrants(16, 12), "JPEG", 50);
            Exiv2::ExifThumb(exif).setJpegThumbnail(
                reinterpret_cast<const Exiv2::byte *>(thumb.constData()), long(thumb.size()));
            image->xmpData()["Xmp.dc.creator"] = "Aiko";
            image->xmpData()["Xmp.exif.GPSLatitude"] = "35,41.0N";
            image->xmpData()["Xmp.xmpMM.DocumentID"] = "xmp.did:1234";
            image->iptcData()["Iptc.Application2.Byline"] = "Aiko";
            image->iptcData()["Iptc.Application2.City"] = "Tokyo";
            image->writeMetadata();
        }
        QStringList args{"--quality", "80", "--output", at("out-" + choice + ".jpg"), photo};
        if (!choice.isEmpty())
            args = QStringList{"--metadata", choice} + args;
        QProcess p;
        p.start(qEnvironmentVariable("MIPOQUIBBO_EXE"), args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);

        QImage written;
        QVERIFY(written.load(at("out-" + choice + ".jpg")));
        QCOMPARE(written.size(), QSize(64, 96)); // upright pixels
        auto image = Exiv2::ImageFactory::open(at("out-" + choice + ".jpg").toStdString());
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        const Exiv2::XmpData &xmp = image->xmpData();
        const Exiv2::IptcData &iptc = image->iptcData();
        const auto has = [&](const char *key) {
            const std::string k(key);
            if (k.rfind("Exif.", 0) == 0)
                return exif.findKey(Exiv2::ExifKey(k)) != exif.end();
            if (k.rfind("Xmp.", 0) == 0)
                return xmp.findKey(Exiv2::XmpKey(k)) != xmp.end();
            return iptc.findKey(Exiv2::IptcKey(k)) != iptc.end();
        };
        const bool keeps = choice != "none";
        for (const char *k :
             {"Exif.Image.Make", "Exif.Image.Model", "Exif.Image.Artist", "Exif.Image.Copyright",
              "Exif.Photo.DateTimeOriginal", "Exif.Photo.FNumber", "Exif.Photo.LensModel",
              "Xmp.dc.creator", "Iptc.Application2.Byline"})
            QVERIFY2(has(k) == keeps, k);
        const bool exposes = choice == "all";
        for (const char *k :
             {"Exif.GPSInfo.GPSLatitude", "Exif.Photo.BodySerialNumber", "Xmp.exif.GPSLatitude",
              "Xmp.xmpMM.DocumentID", "Iptc.Application2.City"})
            QVERIFY2(has(k) == exposes, k);
        // Never a thumbnail of the unturned picture, never an orientation but 1.
        QVERIFY(!has("Exif.Thumbnail.JPEGInterchangeFormat"));
        if (keeps) {
            QCOMPARE(exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"))->toLong(), 1L);
            QCOMPARE(exif.findKey(Exiv2::ExifKey("Exif.Image.Make"))->toString(),
                     std::string("Hollowphone"));
        }
    }
};

QTEST_GUILESS_MAIN(TestPictureFormats)
#include "test_picture_formats.moc"
