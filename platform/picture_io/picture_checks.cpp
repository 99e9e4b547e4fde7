#include "platform/picture_io/picture_checks.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <memory>

namespace platform::picture_checks
{

namespace
{
// Sequential reads through a small buffer: a file of any size costs no more
// memory than this, and only the bytes asked for are read.
class ByteReader
{
public:
    explicit ByteReader(QIODevice &device) : device_(device), buffer_(new unsigned char[Size])
    {
        device_.seek(0);
    }

    int get()
    {
        if (pos_ == end_ && !fill())
            return -1;
        return buffer_[pos_++];
    }
    int get16()
    {
        const int hi = get(), lo = get();
        return hi < 0 || lo < 0 ? -1 : (hi << 8) | lo;
    }
    int getLe16()
    {
        const int lo = get(), hi = get();
        return hi < 0 || lo < 0 ? -1 : (hi << 8) | lo;
    }
    bool skip(qint64 n)
    {
        const qint64 buffered = end_ - pos_;
        if (n <= buffered) {
            pos_ += int(n);
            return true;
        }
        const qint64 target = device_.pos() + (n - buffered);
        pos_ = end_ = 0;
        return target <= device_.size() && device_.seek(target);
    }
    // Consumes bytes up to and including the next 0xFF; false at the end.
    bool findFF()
    {
        for (;;) {
            if (pos_ == end_ && !fill())
                return false;
            const void *hit = std::memchr(buffer_.get() + pos_, 0xFF, size_t(end_ - pos_));
            if (hit) {
                pos_ = int(static_cast<const unsigned char *>(hit) - buffer_.get()) + 1;
                return true;
            }
            pos_ = end_;
        }
    }

private:
    bool fill()
    {
        const qint64 n = device_.read(reinterpret_cast<char *>(buffer_.get()), Size);
        pos_ = 0;
        end_ = n > 0 ? int(n) : 0;
        return end_ > 0;
    }

    static constexpr qint64 Size = 1 << 20;
    QIODevice &device_;
    std::unique_ptr<unsigned char[]> buffer_;
    int pos_ = 0, end_ = 0;
};

// The marker after the next 0xFF, skipping fill bytes and (in coded data)
// stuffed zeros and everything else; -1 at the end. Between the segments
// before the first scan a marker must follow at once.
int nextMarker(ByteReader &in, bool inScan)
{
    for (;;) {
        if (!inScan ? in.get() != 0xFF : !in.findFF())
            return -1;
        int b = in.get();
        while (b == 0xFF)
            b = in.get();
        if (b != 0x00)
            return b;
    }
}

bool isFrameMarker(int m)
{
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

bool isProgressive(int m)
{
    return m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE;
}

qint64 ceilDiv(qint64 a, qint64 b)
{
    return (a + b - 1) / b;
}

// What the decoded picture takes: 8-bit grey, else 32-bit pixels.
qint64 pictureBytes(QSize size, int components)
{
    return qint64(size.width()) * size.height() * (components == 1 ? 1 : 4);
}

// Reads a frame header; false when it breaks a limit. Sets the facts and the
// largest file such a frame could come in.
bool readFrame(ByteReader &in, int length, int marker, const Limits &limits, JpegFacts &facts,
               qint64 &maxFileBytes)
{
    if (length < 8)
        return false;
    in.get(); // precision
    const int height = in.get16(), width = in.get16(), components = in.get();
    if (height <= 0 || width <= 0 || components <= 0 || components > 4 ||
        length != 8 + 3 * components)
        return false;
    facts.size = QSize(width, height);
    facts.components = components;
    facts.progressive = isProgressive(marker);
    if (qint64(width) * height > limits.maxPixels)
        return false;
    int h[4], v[4], hMax = 1, vMax = 1;
    for (int i = 0; i < components; ++i) {
        in.get(); // id
        const int factors = in.get();
        in.get(); // table
        h[i] = std::max(1, (factors >> 4) & 15);
        v[i] = std::max(1, factors & 15);
        hMax = std::max(hMax, h[i]);
        vMax = std::max(vMax, v[i]);
    }
    qint64 blocks = 0;
    for (int i = 0; i < components; ++i)
        blocks += ceilDiv(ceilDiv(qint64(width) * h[i], hMax), 8) *
                  ceilDiv(ceilDiv(qint64(height) * v[i], vMax), 8);
    // A block's 64 coefficients of 16 bits each, while all scans are gathered.
    facts.coefficientBytes = blocks * 64 * 2;
    // No block codes into more than 512 bytes, even with every byte stuffed;
    // markers and metadata get a generous allowance on top.
    maxFileBytes = (16LL << 20) + blocks * 512;
    return true;
}

bool withinMemory(const JpegFacts &facts, bool gathersScans, const Limits &limits)
{
    const qint64 bytes =
        pictureBytes(facts.size, facts.components) + (gathersScans ? facts.coefficientBytes : 0);
    return bytes <= limits.maxDecodeBytes;
}

quint32 le16(const unsigned char *p)
{
    return p[0] | (p[1] << 8);
}

quint32 le32(const unsigned char *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (quint32(p[3]) << 24);
}

// The GIF's logical screen and its first frame (the decoder draws frames on a
// canvas of the larger of the two), and its blocks walked to the trailer:
// a file cut off before it is refused, bytes after it do no harm.
bool gifAcceptable(QIODevice &file, const Limits &limits)
{
    ByteReader in(file);
    unsigned char head[13];
    for (unsigned char &c : head) {
        const int b = in.get();
        if (b < 0)
            return false;
        c = static_cast<unsigned char>(b);
    }
    qint64 width = le16(head + 6), height = le16(head + 8);
    if ((head[10] & 0x80) && !in.skip(3LL << ((head[10] & 7) + 1)))
        return false;
    // Sub-blocks up to their terminator; false when the file ends first.
    const auto skipSubBlocks = [&in] {
        for (;;) {
            const int n = in.get();
            if (n <= 0)
                return n == 0;
            if (!in.skip(n))
                return false;
        }
    };
    bool framed = false;
    for (;;) {
        const int kind = in.get();
        if (kind == 0x3B)
            return framed || width * height > 0;
        if (kind == 0x21) { // extension: a label, then sub-blocks
            if (in.get() < 0 || !skipSubBlocks())
                return false;
            continue;
        }
        if (kind != 0x2C)
            return false; // cut off, or not a block at all
        const int left = in.getLe16(), top = in.getLe16(), w = in.getLe16(), h = in.getLe16();
        const int flags = in.get();
        if (left < 0 || top < 0 || w < 0 || h < 0 || flags < 0)
            return false;
        if (!framed) {
            width = std::max(width, qint64(left) + w);
            height = std::max(height, qint64(top) + h);
            if (width * height > limits.maxPixels || width * height * 4 > limits.maxDecodeBytes)
                return false;
            framed = true;
        }
        if ((flags & 0x80) && !in.skip(3LL << ((flags & 7) + 1)))
            return false;
        if (in.get() < 0 || !skipSubBlocks()) // the code size, then the data
            return false;
    }
}

// Uncompressed rows must all be there.
bool bmpAcceptable(QIODevice &file)
{
    file.seek(0);
    const QByteArray head = file.read(54);
    if (head.size() < 54)
        return true; // too short to judge: the reader decides
    const auto *b = reinterpret_cast<const unsigned char *>(head.constData());
    const quint32 offset = le32(b + 10), headerSize = le32(b + 14);
    if (headerSize < 40)
        return true;
    const qint64 width = qint32(le32(b + 18)), height = qAbs(qint64(qint32(le32(b + 22))));
    const int bits = b[28] | (b[29] << 8);
    const quint32 compression = le32(b + 30);
    if (compression != 0 && compression != 3)
        return true;
    const qint64 row = ((width * bits + 31) / 32) * 4;
    return file.size() >= qint64(offset) + row * height;
}
} // namespace

JpegFacts walkJpeg(QIODevice &file, const Limits &limits)
{
    JpegFacts facts;
    ByteReader in(file);
    if (in.get() != 0xFF || in.get() != 0xD8)
        return facts;
    const qint64 fileBytes = file.size();
    bool framed = false;
    for (;;) {
        const int m = nextMarker(in, facts.scans > 0);
        if (m < 0 || m == 0xD8)
            return facts; // cut off, or a second start
        if ((m >= 0xD0 && m <= 0xD7) || m == 0x01)
            continue; // markers without a segment
        if (m == 0xD9) {
            facts.complete = framed && facts.scans > 0 &&
                             withinMemory(facts, facts.progressive || facts.scans > 1, limits);
            return facts;
        }
        const int length = in.get16();
        if (length < 2)
            return facts;
        if (isFrameMarker(m)) {
            qint64 maxFileBytes = 0;
            if (framed || !readFrame(in, length, m, limits, facts, maxFileBytes) ||
                !withinMemory(facts, facts.progressive, limits) || fileBytes > maxFileBytes)
                return facts;
            framed = true;
            continue;
        }
        if (m == 0xDA && (!framed || ++facts.scans > limits.maxScans))
            return facts;
        // The scan's coded data follows its header; nextMarker passes over it.
        if (!in.skip(length - 2))
            return facts;
    }
}

QByteArray jpegHeaders(QIODevice &file)
{
    // Metadata segments are at most 64 KB each; no real file has more than this of them.
    constexpr qsizetype Most = 16 << 20;
    ByteReader in(file);
    if (in.get() != 0xFF || in.get() != 0xD8)
        return {};
    QByteArray head("\xFF\xD8", 2);
    for (;;) {
        const int m = nextMarker(in, false);
        const int length = m < 0 || m == 0xDA || m == 0xD9 ? -1 : in.get16();
        if (length < 2 || head.size() > Most)
            break;
        head += char(0xFF);
        head += char(m);
        head += char(length >> 8);
        head += char(length & 0xFF);
        for (int i = 2; i < length; ++i) {
            const int b = in.get();
            if (b < 0)
                break;
            head += char(b);
        }
    }
    file.seek(0);
    return head + QByteArray("\xFF\xD9", 2);
}

// An icon file holds whole pictures of its own (PNG or BMP) behind a
// directory whose sizes stop at 256: each is checked by its own header.
bool iconAcceptable(QIODevice &file, const Limits &limits)
{
    unsigned char head[6];
    if (!file.seek(0) || file.read(reinterpret_cast<char *>(head), 6) != 6)
        return false;
    const quint32 count = le16(head + 4);
    for (quint32 i = 0; i < count; ++i) {
        unsigned char entry[16];
        if (!file.seek(6 + 16 * qint64(i)) || file.read(reinterpret_cast<char *>(entry), 16) != 16)
            return false;
        unsigned char data[24];
        if (!file.seek(le32(entry + 12)) || file.read(reinterpret_cast<char *>(data), 24) != 24)
            return false;
        qint64 width = 0, height = 0;
        if (std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) {
            width = (qint64(data[16]) << 24) | (data[17] << 16) | (data[18] << 8) | data[19];
            height = (qint64(data[20]) << 24) | (data[21] << 16) | (data[22] << 8) | data[23];
        } else {
            // A BMP's info header, its height doubled for the mask.
            width = qint32(le32(data + 4));
            height = qint32(le32(data + 8)) / 2;
        }
        if (width <= 0 || height <= 0 || width * height > limits.maxPixels)
            return false;
    }
    return true;
}

bool acceptable(QIODevice &file, const QByteArray &format, const Limits &limits)
{
    if (file.size() <= 0 || file.size() > limits.maxFileBytes)
        return false;
    if (format == "jpeg")
        return walkJpeg(file, limits).complete;
    if (format == "gif")
        return gifAcceptable(file, limits);
    if (format == "bmp")
        return bmpAcceptable(file);
    // Qt's icon reader names no format when it takes a file by its content.
    char head[4] = {};
    const bool icon = format == "ico" || format == "cur" ||
                      (file.seek(0) && file.read(head, 4) == 4 && head[0] == 0 && head[1] == 0 &&
                       (head[2] == 1 || head[2] == 2) && head[3] == 0);
    if (icon)
        return iconAcceptable(file, limits);
    return true;
}

} // namespace platform::picture_checks
