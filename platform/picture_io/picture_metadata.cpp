#include "platform/picture_io/picture_metadata.h"

#include <exiv2/exiv2.hpp>

#include <QStringList>

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>

namespace platform::metadata
{

namespace
{

const QString ExifKey = QStringLiteral("mipoquibbo.exif");
const QString XmpKey = QStringLiteral("mipoquibbo.xmp");
const QString IptcKey = QStringLiteral("mipoquibbo.iptc");

// What one APP1 segment holds after its "Exif\0\0" name.
constexpr size_t MaxExif = 65527;

std::mutex xmpToolkit;

void lockXmp(void *, bool lock)
{
    if (lock)
        xmpToolkit.lock();
    else
        xmpToolkit.unlock();
}

void prepare()
{
    static const bool done = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(lockXmp, nullptr);
        return true;
    }();
    (void)done;
}

QByteArray bytesOf(const Exiv2::Blob &blob)
{
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

QByteArray encodeExif(const Exiv2::ExifData &exif, Exiv2::ByteOrder order)
{
    if (exif.empty())
        return {};
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order,
                              exif);
    return blob.size() <= MaxExif ? bytesOf(blob) : QByteArray();
}

QByteArray encodeXmp(const Exiv2::XmpData &xmp)
{
    if (xmp.empty())
        return {};
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0)
        return {};
    return QByteArray::fromStdString(packet);
}

QByteArray encodeIptc(const Exiv2::IptcData &iptc)
{
    if (iptc.empty())
        return {};
    const Exiv2::DataBuf buf = Exiv2::IptcParser::encode(iptc);
    return QByteArray(reinterpret_cast<const char *>(buf.pData_), qsizetype(buf.size_));
}

// The upright pixels' facts: orientation 1 wherever it is said, no
// thumbnail (it shows the picture as it was before turning or editing).
Read normalised(Exiv2::ExifData &exif, Exiv2::XmpData &xmp, const Exiv2::IptcData &iptc,
                Exiv2::ByteOrder order)
{
    Read result;
    if (const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        it != exif.end() && it->count() > 0) {
        const long o = it->toLong();
        result.orientation = o >= 1 && o <= 8 ? int(o) : 1;
        exif["Exif.Image.Orientation"] = uint16_t(1);
    }
    Exiv2::ExifThumb(exif).erase();
    if (const auto it = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")); it != xmp.end())
        xmp.erase(it);
    result.blocks.exif = encodeExif(exif, order);
    result.blocks.xmp = encodeXmp(xmp);
    result.blocks.iptc = encodeIptc(iptc);
    return result;
}

bool startsWithKey(const std::string &key, const char *prefix)
{
    const size_t n = std::char_traits<char>::length(prefix);
    return key.compare(0, n, prefix) == 0 &&
           (key.size() == n || key[n] == '[' || key[n] == '/' || prefix[n - 1] == '.');
}

bool anyOf(const std::string &key, std::initializer_list<const char *> prefixes)
{
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const char *p) { return startsWithKey(key, p); });
}

// Says where, who exactly or with which body: kept only when all is asked for.
bool exposing(const std::string &key)
{
    return anyOf(key, {"Exif.Photo.MakerNote", "Exif.Photo.BodySerialNumber",
                       "Exif.Photo.LensSerialNumber", "Exif.Photo.CameraOwnerName",
                       "Exif.Photo.ImageUniqueID", "Exif.Photo.PixelXDimension",
                       "Exif.Photo.PixelYDimension"});
}

bool safeExif(const Exiv2::Exifdatum &d)
{
    const std::string key = d.key();
    if (d.groupName() == "Photo")
        return !exposing(key);
    return anyOf(key, {"Exif.Image.Make", "Exif.Image.Model", "Exif.Image.DateTime",
                       "Exif.Image.Artist", "Exif.Image.Copyright", "Exif.Image.ImageDescription",
                       "Exif.Image.Software", "Exif.Image.XResolution", "Exif.Image.YResolution",
                       "Exif.Image.ResolutionUnit", "Exif.Image.Orientation"});
}

bool safeXmp(const std::string &key)
{
    if (key.rfind("Xmp.exif.GPS", 0) == 0 ||
        anyOf(key,
              {"Xmp.exifEX.BodySerialNumber", "Xmp.exifEX.LensSerialNumber",
               "Xmp.exifEX.CameraOwnerName", "Xmp.exif.ImageUniqueID", "Xmp.aux.SerialNumber"}))
        return false;
    return anyOf(key, {"Xmp.dc.creator", "Xmp.dc.rights", "Xmp.dc.description", "Xmp.dc.title",
                       "Xmp.xmp.CreateDate", "Xmp.photoshop.DateCreated", "Xmp.tiff.Make",
                       "Xmp.tiff.Model", "Xmp.tiff.Artist", "Xmp.tiff.Copyright",
                       "Xmp.tiff.ImageDescription", "Xmp.tiff.DateTime", "Xmp.exif.", "Xmp.exifEX.",
                       "Xmp.aux.Lens", "Xmp.aux.LensInfo", "Xmp.aux.LensID", "Xmp.xmpRights."});
}

bool safeIptc(const std::string &key)
{
    return anyOf(key, {"Iptc.Envelope.CharacterSet", "Iptc.Application2.Byline",
                       "Iptc.Application2.BylineTitle", "Iptc.Application2.Copyright",
                       "Iptc.Application2.Caption", "Iptc.Application2.Headline",
                       "Iptc.Application2.ObjectName", "Iptc.Application2.DateCreated",
                       "Iptc.Application2.TimeCreated", "Iptc.Application2.Credit",
                       "Iptc.Application2.Writer"});
}

template <class Data, class Keep> void eraseUnless(Data &data, Keep keep)
{
    for (auto it = data.begin(); it != data.end();)
        it = keep(*it) ? std::next(it) : data.erase(it);
}

} // namespace

void initialise()
{
    prepare();
}

Read read(const uchar *data, qsizetype size)
{
    prepare();
    if (!data || size <= 0 || size > std::numeric_limits<long>::max())
        return {};
    try {
        // Exiv2 0.27 hands its images over in an auto_ptr.
        const auto image = Exiv2::ImageFactory::open(data, long(size));
        if (!image.get())
            return {};
        image->readMetadata();
        return normalised(image->exifData(), image->xmpData(), image->iptcData(),
                          image->byteOrder());
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        // A file whose metadata cannot be read is still a picture.
        return {};
    }
}

Read fromBlocks(const QByteArray &exifBlock, const QByteArray &xmpBlock, bool exifHasOffset)
{
    prepare();
    try {
        Exiv2::ExifData exif;
        Exiv2::XmpData xmp;
        Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
        QByteArray tiff = exifBlock;
        if (exifHasOffset && tiff.size() >= 4) {
            const auto *p = reinterpret_cast<const uchar *>(tiff.constData());
            const quint32 offset = (quint32(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
            tiff =
                offset <= quint32(tiff.size() - 4) ? tiff.mid(4 + qsizetype(offset)) : QByteArray();
        }
        if (tiff.startsWith("Exif\0\0"))
            tiff = tiff.mid(6);
        if (tiff.size() > 8)
            order = Exiv2::ExifParser::decode(
                exif, reinterpret_cast<const Exiv2::byte *>(tiff.constData()),
                uint32_t(tiff.size()));
        if (!xmpBlock.isEmpty())
            Exiv2::XmpParser::decode(xmp, xmpBlock.toStdString());
        return normalised(exif, xmp, Exiv2::IptcData(), order);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        return {};
    }
}

void attach(QImage &picture, const Blocks &blocks)
{
    const auto put = [&](const QString &key, const QByteArray &bytes) {
        picture.setText(key, bytes.isEmpty() ? QString() : QString::fromLatin1(bytes.toBase64()));
    };
    put(ExifKey, blocks.exif);
    put(XmpKey, blocks.xmp);
    put(IptcKey, blocks.iptc);
}

Blocks of(const QImage &picture)
{
    const auto get = [&](const QString &key) {
        return QByteArray::fromBase64(picture.text(key).toLatin1());
    };
    return {get(ExifKey), get(XmpKey), get(IptcKey)};
}

void keepOnly(QImage &picture, Choice choice)
{
    const Blocks blocks = of(picture);
    if (blocks.empty())
        return;
    if (choice == Choice::None) {
        attach(picture, {});
        return;
    }
    prepare();
    Blocks kept;
    try {
        Exiv2::ExifData exif;
        Exiv2::ByteOrder order = Exiv2::littleEndian;
        if (blocks.exif.size() > 8)
            order = Exiv2::ExifParser::decode(
                exif, reinterpret_cast<const Exiv2::byte *>(blocks.exif.constData()),
                uint32_t(blocks.exif.size()));
        Exiv2::XmpData xmp;
        if (!blocks.xmp.isEmpty())
            Exiv2::XmpParser::decode(xmp, blocks.xmp.toStdString());
        Exiv2::IptcData iptc;
        if (!blocks.iptc.isEmpty())
            Exiv2::IptcParser::decode(
                iptc, reinterpret_cast<const Exiv2::byte *>(blocks.iptc.constData()),
                uint32_t(blocks.iptc.size()));
        if (choice == Choice::Safe) {
            eraseUnless(exif, safeExif);
            eraseUnless(xmp, [](const Exiv2::Xmpdatum &d) { return safeXmp(d.key()); });
            eraseUnless(iptc, [](const Exiv2::Iptcdatum &d) { return safeIptc(d.key()); });
        }
        // The written picture's own size, where a size is said at all.
        if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != exif.end() ||
            (choice == Choice::Safe && !exif.empty())) {
            exif["Exif.Photo.PixelXDimension"] = uint32_t(picture.width());
            exif["Exif.Photo.PixelYDimension"] = uint32_t(picture.height());
        }
        kept.exif = encodeExif(exif, order);
        kept.xmp = encodeXmp(xmp);
        kept.iptc = encodeIptc(iptc);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        // What cannot be read again is not written.
    }
    attach(picture, kept);
}

QByteArray photoshopResources(const QByteArray &iptcBlock)
{
    if (iptcBlock.isEmpty())
        return {};
    prepare();
    try {
        Exiv2::IptcData iptc;
        if (Exiv2::IptcParser::decode(iptc,
                                      reinterpret_cast<const Exiv2::byte *>(iptcBlock.constData()),
                                      uint32_t(iptcBlock.size())) != 0)
            return {};
        const Exiv2::DataBuf irb = Exiv2::Photoshop::setIptcIrb(nullptr, 0, iptc);
        return QByteArray(reinterpret_cast<const char *>(irb.pData_), qsizetype(irb.size_));
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        return {};
    }
}

} // namespace platform::metadata
