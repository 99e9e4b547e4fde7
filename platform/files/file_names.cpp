#include "platform/files/file_names.h"

#include <algorithm>
#include <atomic>

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

namespace platform
{

namespace
{
// The length of the well-formed UTF-8 sequence at p (none over-long, no
// surrogate, nothing past U+10FFFF); 0 when there is none.
int sequenceAt(const unsigned char *p, qsizetype left, char32_t &code)
{
    const unsigned char b = p[0];
    int length = 0;
    char32_t least = 0;
    if (b < 0x80) {
        code = b;
        return 1;
    }
    if ((b & 0xE0) == 0xC0) {
        length = 2;
        code = b & 0x1F;
        least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        length = 3;
        code = b & 0x0F;
        least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        length = 4;
        code = b & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}
} // namespace

QString nameOf(const QByteArray &bytes)
{
    if (QByteArrayView(bytes).isValidUtf8())
        return QString::fromUtf8(bytes);
    QString name;
    name.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t code = 0;
        const int length = sequenceAt(p + i, bytes.size() - i, code);
        if (length == 0) {
            name += QChar(char16_t(0xDC00 | p[i]));
            ++i;
            continue;
        }
        name += QString::fromUcs4(&code, 1);
        i += length;
    }
    return name;
}

QByteArray nameBytes(const QString &name)
{
    const bool escaped = std::any_of(name.cbegin(), name.cend(), [](QChar c) {
        return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
    });
    if (!escaped)
        return name.toUtf8();
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        if (u >= 0xDC80 && u <= 0xDCFF) {
            bytes += char(u & 0xFF);
        } else if (QChar::isHighSurrogate(u) && i + 1 < name.size() &&
                   QChar::isLowSurrogate(name[i + 1].unicode())) {
            bytes += QString(name.constData() + i, 2).toUtf8();
            ++i;
        } else {
            bytes += QString(QChar(u)).toUtf8();
        }
    }
    return bytes;
}

FileKind kindOf(const QString &name)
{
    struct stat st {
    };
    if (name.isEmpty() || ::stat(nameBytes(name).constData(), &st) != 0)
        return {};
    return {true, S_ISREG(st.st_mode), S_ISDIR(st.st_mode), qint64(st.st_size)};
}

bool folderIgnoresCase(const QString &folder)
{
    const int dir = ::open(nameBytes(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    static std::atomic<int> probes{0};
    const QByteArray lower = ".mipoquibbo-case-" + QByteArray::number(::getpid()) + '-' +
                             QByteArray::number(probes.fetch_add(1)) + "-x";
    bool ignores = false;
    const int fd = ::openat(dir, lower.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        // Inode numbers are no proof here (FUSE file systems make them up):
        // the other spelling is taken when the first is.
        ::close(fd);
        const int other = ::openat(dir, lower.toUpper().constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        ignores = other < 0 && errno == EEXIST;
        if (other >= 0) {
            ::close(other);
            ::unlinkat(dir, lower.toUpper().constData(), 0);
        }
        ::unlinkat(dir, lower.constData(), 0);
    }
    ::close(dir);
    return ignores;
}

} // namespace platform
