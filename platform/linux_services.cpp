#include "platform/linux_services.h"

#include "platform/colour_profiles.h"
#include "platform/file_names.h"
#include "platform/picture_checks.h"
#include "platform/picture_formats.h"
#include "platform/picture_metadata.h"
#include "platform/runtime.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGuiApplication>
#include <QImageReader>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRegion>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QTranslator>
#include <QTreeView>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include "platform/x11.h"

#include <xcb/shape.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform
{

int QtMessageBox::show(const QString &prompt, int style, const QString &title)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(prompt);
    box.setAccessibleDescription(prompt);
    // A name or a command in it can be copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    switch (style & 0x70) {
    case vbCritical:
        box.setIcon(QMessageBox::Critical);
        break;
    case vbQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case vbExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case vbInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    struct Choice {
        QString text;
        QMessageBox::ButtonRole role;
        int answer;
    };
    QList<Choice> choices;
    switch (style & 7) {
    case vbOKCancel:
        choices = {{QStringLiteral("OK"), QMessageBox::AcceptRole, vbOK},
                   {QStringLiteral("キャンセル"), QMessageBox::RejectRole, vbCancel}};
        break;
    case vbYesNo:
        choices = {{QStringLiteral("はい(&Y)"), QMessageBox::YesRole, vbYes},
                   {QStringLiteral("いいえ(&N)"), QMessageBox::NoRole, vbNo}};
        break;
    default:
        choices = {{QStringLiteral("OK"), QMessageBox::AcceptRole, vbOK}};
        break;
    }
    QList<QAbstractButton *> buttons;
    for (const Choice &c : choices)
        buttons << box.addButton(c.text, c.role);
    const int def = (style & vbDefaultButton2) && buttons.size() > 1 ? 1 : 0;
    box.setDefaultButton(static_cast<QPushButton *>(buttons[def]));
    box.setEscapeButton(buttons.last());
    // Wide enough for its title beside the window manager's buttons, as a
    // message box sizes itself on other systems; Qt sizes it by its text only.
    const int titleWidth = box.fontMetrics().horizontalAdvance(title) + 160;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
    const int i = int(buttons.indexOf(box.clickedButton()));
    return choices[i < 0 ? int(choices.size()) - 1 : i].answer;
}

namespace
{
QString sanitized(QString s)
{
    for (QChar &c : s)
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-')
            c = u'_';
    return s;
}

// A folder only this user can use: owned by us, a real folder, mode 0700.
bool isPrivateFolder(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}
} // namespace

namespace
{
// The display as its server knows it: ":93" and ":93.0" are the same one.
QString canonicalDisplay()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("none"));
    char *host = nullptr;
    int number = 0, screen = 0;
    if (!xcb_parse_display(display.constData(), &host, &number, &screen))
        return QString::fromLocal8Bit(display);
    const std::unique_ptr<char, x11::FreeReply> owned(host);
    QString name = QString::fromLocal8Bit(host);
    if (name == QStringLiteral("unix"))
        name.clear();
    return name + u':' + QString::number(number);
}
} // namespace

QString LockFileInstance::lockPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !isPrivateFolder(folder)) {
        folder = QDir::homePath() + QStringLiteral("/.cache/mipoquibbo");
        QDir().mkpath(QDir::homePath() + QStringLiteral("/.cache"));
        const QByteArray path = QFile::encodeName(folder);
        ::mkdir(path.constData(), 0700);
        // Made private through its own handle: a link planted there is never followed.
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return {};
        struct stat st {
        };
        if (::fstat(fd, &st) == 0 && st.st_uid == ::getuid())
            ::fchmod(fd, 0700);
        ::close(fd);
        if (!isPrivateFolder(folder))
            return {};
    }
    return folder + QStringLiteral("/mipoquibbo-") + sanitized(canonicalDisplay()) +
           QStringLiteral(".lock");
}

QString LockFileInstance::socketPath()
{
    const QString lock = lockPath();
    return lock.isEmpty() ? QString() : lock.chopped(5) + QStringLiteral(".sock");
}

LockFileInstance::~LockFileInstance()
{
    server_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

bool LockFileInstance::handOver(const QString &file)
{
    return hand_over::send(socketPath(), file);
}

void LockFileInstance::acceptHandOvers(std::function<void(const QString &)> open)
{
    if (fd_ < 0 || !QCoreApplication::instance())
        return;
    server_ = std::make_unique<hand_over::Server>();
    if (!server_->listen(socketPath(), QCoreApplication::instance(), std::move(open)))
        server_.reset();
}

bool LockFileInstance::previousInstance()
{
    if (fd_ >= 0)
        return false;
    const QString path = lockPath();
    if (path.isEmpty())
        return false; // no safe place: never refuse to start
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        fd_ = fd;
        return false;
    }
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool X11WindowShape::blendsWindows()
{
    xcb_connection_t *c = x11::connection();
    if (!c)
        return true; // every Wayland compositor blends
    const x11::Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, x11::atom(c, "_NET_WM_CM_S0")), nullptr));
    return owner && owner->owner != XCB_NONE;
}

void X11WindowShape::setEllipticRegion(QWidget *window, int left, int top, int right, int bottom)
{
    const QRect box(left, top, right - left, bottom - top);
    xcb_connection_t *c = x11::connection();
    if (!c || !window->testAttribute(Qt::WA_TranslucentBackground)) {
        window->setMask(QRegion(box, QRegion::Ellipse));
        return;
    }
    // The X window is in device pixels.
    const qreal ratio = window->devicePixelRatioF();
    const QRegion clicks(QRect(qRound(box.x() * ratio), qRound(box.y() * ratio),
                               qRound(box.width() * ratio), qRound(box.height() * ratio)),
                         QRegion::Ellipse);
    QList<xcb_rectangle_t> rects;
    for (const QRect &r : clicks)
        rects.append({int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         xcb_window_t(window->winId()), 0, 0, uint32_t(rects.size()),
                         rects.constData());
    xcb_flush(c);
}

X11WindowShape::X11WindowShape()
{
    // Watches every press, so that a drag starts from where its press was and
    // not from where the pointer has gone since.
    if (qApp)
        qApp->installEventFilter(this);
}

void X11WindowShape::beginCaptionDrag(QWidget *window)
{
    if (!x11::connection()) {
        if (window->windowHandle())
            window->windowHandle()->startSystemMove();
        return;
    }
    dragged_ = window;
    pressPointer_ = lastPress_;
    pressWindow_ = window->frameGeometry().topLeft();
}

bool X11WindowShape::eventFilter(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        lastPress_ = static_cast<QMouseEvent *>(event)->globalPosition().toPoint();
        return false;
    case QEvent::MouseMove: {
        if (!dragged_)
            return false;
        auto *me = static_cast<QMouseEvent *>(event);
        if (!(me->buttons() & Qt::LeftButton)) {
            dragged_ = nullptr;
            return false;
        }
        dragged_->move(pressWindow_ + (me->globalPosition().toPoint() - pressPointer_));
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (dragged_ && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            dragged_ = nullptr;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void X11WindowShape::skipTaskbar(QWidget *window)
{
    xcb_connection_t *c = x11::connection();
    if (!c)
        return; // not on X11: nothing to tell a window manager
    const auto wid = xcb_window_t(window->winId());
    const xcb_atom_t skipTaskbar = x11::atom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                     skipPager = x11::atom(c, "_NET_WM_STATE_SKIP_PAGER");
    if (!window->isVisible()) {
        // Read at map time; Qt merges its own states into what is there.
        const xcb_atom_t wanted[] = {skipTaskbar, skipPager};
        xcb_change_property(c, XCB_PROP_MODE_APPEND, wid, x11::atom(c, "_NET_WM_STATE"),
                            XCB_ATOM_ATOM, 32, 2, wanted);
        xcb_flush(c);
    } else {
        // 1: add; 1: from a normal application.
        x11::sendToRoot(c, wid, "_NET_WM_STATE", {1, skipTaskbar, skipPager, 1, 0});
    }
}

void keepNoSettings()
{
    // Qt's file dialog keeps its history and view in a settings file of its
    // own; this program writes nothing but the pictures asked for, so that
    // file goes where nothing can be written.
    static const bool once = [] {
        for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope,
                               QStringLiteral("/dev/null/mipoquibbo-writes-no-settings"));
        return true;
    }();
    (void)once;
}

bool installJapaneseQtTexts()
{
    // Qt's own dialogs (the file dialog above all) speak the interface's language.
    static QTranslator qtbase;
    static const bool loaded = qtbase.load(QStringLiteral("qtbase_ja"),
                                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                               QCoreApplication::installTranslator(&qtbase);
    return loaded;
}

namespace
{
// The detail view's size, kind and date are longer in Japanese than Qt's
// columns: each is as wide as what it shows once the folder is read, and the
// dialog is wide enough for them beside the names.
void fitColumns(QFileDialog &dialog)
{
    auto *tree = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *model = dialog.findChild<QFileSystemModel *>();
    if (!tree || !model)
        return;
    const QFontMetrics fm(tree->font());
    const QDateTime late(QDate(2026, 12, 28), QTime(23, 59));
    const int columns = fm.horizontalAdvance(QLocale().formattedDataSize(1023 * 1024 + 900)) +
                        fm.horizontalAdvance(QStringLiteral("フォルダー JPEG 画像")) +
                        fm.horizontalAdvance(QLocale().toString(late, QLocale::ShortFormat)) +
                        fm.horizontalAdvance(u'M') * 6;
    const int names = fm.horizontalAdvance(u'x') * 40;
    dialog.resize(std::max(dialog.sizeHint().width(), columns + names + 220),
                  std::max(dialog.sizeHint().height(), fm.height() * 26));
    QObject::connect(model, &QFileSystemModel::directoryLoaded, tree, [tree] {
        for (int column = 1; column < 4; ++column)
            tree->resizeColumnToContents(column);
    });
}
} // namespace

std::optional<QString> QtFileChooser::choose(const Request &request)
{
    keepNoSettings();
    QFileDialog dialog;
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite |
                      QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt reads an entry's patterns from its last parentheses and, with the
    // details hidden, shows what comes before them: the description as given.
    QStringList filters;
    for (qsizetype i = 0; i < request.descriptions.size(); ++i)
        filters << request.descriptions[i] + QStringLiteral(" (") +
                       request.patterns.value(i).join(u' ') + u')';
    dialog.setNameFilters(filters);
    if (request.selected >= 0 && request.selected < filters.size())
        dialog.selectNameFilter(filters[request.selected]);
    if (!request.startPath.isEmpty()) {
        const QFileInfo start(request.startPath);
        dialog.setDirectory(start.absolutePath());
        // Qt would list the name even where the entry's patterns leave it
        // out, and Open would then take a JPEG for a page: a name of another
        // kind leaves only its folder.
        if (request.save || QDir::match(request.patterns.value(request.selected), start.fileName()))
            dialog.selectFile(start.fileName());
    }
    fitColumns(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    // A typed address is not a name in the folder shown: a file: URL is its
    // own path, and any other goes on as it was typed.
    if (const auto *typed = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
        const QString text = typed->text().trimmed();
        static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
        if (scheme.match(text).hasMatch()) {
            const QUrl url(text);
            if (url.isLocalFile())
                return url.toLocalFile();
            if (url.isValid())
                return text;
        }
    }
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

namespace
{
struct Mapping {
    void *base;
    size_t length;
};

void unmap(void *info)
{
    auto *m = static_cast<Mapping *>(info);
    ::munmap(m->base, m->length);
    delete m;
}

// A large picture's buffer on transparent huge pages: one fault per 2 MB
// instead of one per 4 KB page while the decoder fills it. Null when that is
// not worth it or not to be had; the reader then allocates as usual.
QImage hugePageImage(QSize size, QImage::Format format)
{
    constexpr size_t Huge = 2u << 20;
    if (format == QImage::Format_Invalid || size.isEmpty())
        return {};
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = ((qsizetype(size.width()) * depth + 31) / 32) * 4;
    const size_t bytes = size_t(bytesPerLine) * size_t(size.height());
    if (bytes < 4 * Huge)
        return {};
    const size_t length = bytes + Huge;
    void *base =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return {};
    // The first 2 MB boundary in the mapping.
    const auto misalignment = reinterpret_cast<uintptr_t>(base) & (Huge - 1);
    uchar *data = static_cast<uchar *>(base) + (misalignment ? Huge - misalignment : 0);
    ::madvise(data, bytes, MADV_HUGEPAGE);
    return QImage(data, size.width(), size.height(), bytesPerLine, format, unmap,
                  new Mapping{base, length});
}
} // namespace

QtPictureLoader::QtPictureLoader()
{
    // In megabytes, for the decoded picture: room for the largest accepted photo.
    QImageReader::setAllocationLimit(int(MaxPixels * 4 / (1 << 20)) + 64);
}

namespace
{
// The file opened by its name's own bytes; false when it is no regular file.
bool openRegular(const QString &path, QFile &file, int &error)
{
    const int fd =
        ::open(nameBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    struct stat st {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    // Unbuffered: the checks read large pieces, the decoders their own.
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
} // namespace

QImage QtPictureLoader::LoadPicture(const QString &path)
{
    QFile file;
    int error = 0;
    if (!openRegular(path, file, error))
        throw rt::RuntimeError(error == ENOENT || error == ENOTDIR ? rt::ErrFileNotFound
                                                                   : rt::ErrInvalidPicture);
    QImage picture = decodePainting(file);
    if (picture.isNull()) {
        // A kind of file read nowhere here is told apart from a damaged picture.
        file.seek(0);
        const QByteArray head = file.read(4096);
        const picture_formats::Sniffed kind =
            picture_formats::sniff(reinterpret_cast<const uchar *>(head.constData()), head.size());
        file.seek(0);
        QImageReader reader(&file);
        if (kind.kind == picture_formats::Kind::Foreign ||
            (kind.kind == picture_formats::Kind::Unknown && !reader.canRead()))
            throw rt::RuntimeError(rt::ErrInvalidFileFormat, kind.name);
        throw rt::RuntimeError(rt::ErrInvalidPicture);
    }
    return picture;
}

QImage QtPictureLoader::decodePainting(QIODevice &device)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!qobject_cast<QGuiApplication *>(app) || QThread::currentThread() != app->thread())
        return decode(device);
    // A large photo takes a good part of a second: the windows paint meanwhile
    // while input waits, as the command has not done with the picture yet.
    const PaintingWait held;
    QEventLoop wait;
    QImage picture;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            picture = decode(device);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return picture;
}

namespace
{
// What the readers of our own and the metadata need of a device, read with
// plain reads (a mapping would fault if the file shrank under it).
QByteArray wholeContent(QIODevice &device, qint64 maxBytes)
{
    if (auto *buffer = qobject_cast<QBuffer *>(&device))
        return buffer->data();
    if (device.size() > maxBytes || !device.seek(0))
        return {};
    QByteArray bytes = device.read(device.size());
    device.seek(0);
    return bytes;
}

// The components a JPEG's frame header gives, from its headers alone.
int jpegComponents(const QByteArray &headers)
{
    QBuffer buffer;
    buffer.setData(headers);
    buffer.open(QIODevice::ReadOnly);
    return picture_checks::walkJpeg(buffer, QtPictureLoader::limits()).components;
}
} // namespace

QImage QtPictureLoader::decode(QIODevice &device, const QByteArray &format)
{
    if (!device.seek(0) || device.size() <= 0 || device.size() > limits().maxFileBytes)
        return {};
    QByteArray content = device.read(4096);
    using picture_formats::Kind;
    const Kind kind =
        picture_formats::sniff(reinterpret_cast<const uchar *>(content.constData()), content.size())
            .kind;
    const auto bytes = [&content] { return reinterpret_cast<const uchar *>(content.constData()); };
    if (format.isEmpty() && (kind == Kind::Heif || kind == Kind::JpegXl)) {
        content = wholeContent(device, limits().maxFileBytes);
        return kind == Kind::Heif
                   ? picture_formats::decodeHeif(bytes(), content.size(), limits())
                   : picture_formats::decodeJpegXl(bytes(), content.size(), limits());
    }
    // A JPEG's metadata is in its first segments; other formats may keep
    // theirs anywhere, GIF and BMP none.
    if (kind == Kind::Jpeg) {
        content = qobject_cast<QBuffer *>(&device) ? wholeContent(device, limits().maxFileBytes)
                                                   : picture_checks::jpegHeaders(device);
        if ((format.isEmpty() || format == "jpeg") && jpegComponents(content) == 4) {
            const QByteArray whole = wholeContent(device, limits().maxFileBytes);
            QImage cmyk = picture_formats::decodeProfiledCmykJpeg(
                reinterpret_cast<const uchar *>(whole.constData()), whole.size(), limits());
            if (!cmyk.isNull())
                return cmyk;
        }
    } else if (kind == Kind::Png || kind == Kind::WebP || kind == Kind::Tiff) {
        content = wholeContent(device, limits().maxFileBytes);
        if (kind == Kind::Png && picture_formats::qtMisreadsPng(bytes(), content.size())) {
            QImage picture = picture_formats::decodePng(bytes(), content.size(), limits());
            if (picture.isNull())
                return {};
            colour::adopt(picture, picture_formats::pngProfile(bytes(), content.size()));
            metadata::attach(picture, metadata::read(bytes(), content.size()).blocks);
            return picture;
        }
    } else {
        content.clear();
    }
    if (!device.seek(0))
        return {};
    QImageReader reader(&device, format);
    reader.setDecideFormatFromContent(format.isEmpty());
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    const QByteArray kindName = reader.format();
    if (size.isValid() && qint64(size.width()) * size.height() > MaxPixels)
        return {};
    // The checks read from the start; the reader goes on from where it was.
    const qint64 at = device.pos();
    const bool fine = picture_checks::acceptable(device, kindName, limits());
    if (!fine || !device.seek(at))
        return {};
    QImage picture = hugePageImage(size, reader.imageFormat());
    if (!reader.read(&picture))
        return {};
    colour::adopt(picture, kind == Kind::Png ? picture_formats::pngProfile(bytes(), content.size())
                                             : colour::profileOf(picture));
    if (!content.isEmpty())
        metadata::attach(picture, metadata::read(bytes(), content.size()).blocks);
    return picture;
}

picture_checks::Limits QtPictureLoader::limits()
{
    picture_checks::Limits l;
    l.maxPixels = MaxPixels;
    l.maxDecodeBytes = MaxPixels * 4;
    return l;
}

qint64 QtPictureLoader::pixelsOf(const QString &path)
{
    QFile file;
    int error = 0;
    if (!openRegular(path, file, error))
        return 0;
    QImageReader reader(&file);
    if (const QSize size = reader.size(); size.isValid() && !size.isEmpty())
        return std::min(qint64(size.width()) * size.height(), MaxPixels);
    // Formats whose size Qt's reader does not tell (HEIF, JPEG XL) hold a
    // photo in about a tenth of a byte a pixel.
    return std::min(file.size() * 10, MaxPixels);
}

bool QtPictureLoader::isPicture(const QString &path)
{
    QFile file;
    int error = 0;
    if (!openRegular(path, file, error))
        return false;
    const QByteArray head = file.read(4096);
    if (picture_formats::sniff(reinterpret_cast<const uchar *>(head.constData()), head.size())
            .kind != picture_formats::Kind::Unknown)
        return true;
    file.seek(0);
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

QString PathProgramLauncher::find(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

bool PathProgramLauncher::start(const QString &path)
{
    // No shell in between: the path is the program, nothing in it is interpreted.
    return !path.isEmpty() && QProcess::startDetached(path, {});
}

} // namespace platform
