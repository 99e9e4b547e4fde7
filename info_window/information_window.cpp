#include "info_window/information_window.h"

#include "core/runtime.h"
#include "core/services.h"
#include "document/picture_document.h"
#include "widgets/controls.h"
#include "widgets/definitions.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace
{
const defs::ControlDef &def(const char *name)
{
    return defs::control(defs::InformationWindowControls, name);
}
} // namespace

InformationWindow::InformationWindow(PictureDocument &doc, platform::WindowShape &shape,
                                     std::function<void()> showMainWindow)
    // The main window's tool window (the program makes it transient for it):
    // above it, and raised and minimised with it, as a palette is.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), doc_(doc), shape_(shape),
      showMainWindow_(std::move(showMainWindow))
{
    setWindowTitle(QString::fromUtf8(defs::InformationWindow.caption));
    // Where a compositor blends windows the ellipse is drawn, its edge
    // smooth at any scale, on a see-through window; elsewhere the window is
    // cut to it.
    drawsOwnEdge_ = shape_.blendsWindows();
    setAttribute(Qt::WA_TranslucentBackground, drawsOwnEdge_);
    setAutoFillBackground(!drawsOwnEdge_);
    QPalette p = palette();
    p.setColor(QPalette::Window, defs::color(defs::InformationWindow.background));
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);

    const QSize size(rt::twipsToPixels(defs::InformationWindow.clientWidth),
                     rt::twipsToPixels(defs::InformationWindow.clientHeight));
    setFixedSize(size);
    centreOn(QGuiApplication::primaryScreen());

    fileNameLabel = defs::label(this, QString());
    defs::place(fileNameLabel, def("fileNameLabel"));
    resolutionTitle = defs::label(this, QString::fromUtf8(defs::InformationWindowResolutionTitle));
    defs::place(resolutionTitle, def("resolutionTitle"));
    qualityLabel = defs::label(this, QString(), palette().color(QPalette::HighlightedText));
    qualityLabel->setFont(defs::font(defs::InformationWindowQualityFontPt));
    qualityLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    qualityLabel->setLineWidth(1);
    qualityLabel->setWordWrap(false);
    qualityLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    defs::place(qualityLabel, def("qualityLabel"));
    SizeLabel = defs::label(this, QString());
    SizeLabel->setWordWrap(false);
    defs::place(SizeLabel, defs::InformationWindowSizeLabel);
    fitSizeLabel();
    qualityBar = defs::scrollBar(this, defs::InformationWindowQualityRange);
    qualityBar->setAccessibleName(QString::fromUtf8(defs::InformationWindowResolutionTitle));
    showSize(doc_.jpegSize());
    connect(&doc_, &PictureDocument::jpegSizeChanged, this, &InformationWindow::showSize);
    defs::place(qualityBar, def("qualityBar"));
    connect(qualityBar, &QScrollBar::valueChanged, this,
            [this] { rt::guard([this] { qualityChanged(); }); });

    keepLookWhenDisabled(this);
    // The task bar rule is read when the window is mapped, so it goes on before that.
    winId();
    shape_.skipTaskbar(this);
}

float InformationWindow::Width() const
{
    return rt::pixelsToTwips(frameGeometry().width());
}
float InformationWindow::Height() const
{
    return rt::pixelsToTwips(frameGeometry().height());
}

void InformationWindow::fitSizeLabel()
{
    // From its place right of the quality number to the ellipse's edge at its
    // lower corner (the nearer one); the longest read-out fits there, in a
    // smaller face where the window's own does not.
    const QRect r = SizeLabel->geometry();
    const double a = width() / 2.0, b = height() / 2.0;
    const double dy = std::max(std::abs(r.top() - b), std::abs(r.bottom() + 1 - b)) / b;
    const int room = int(a + a * std::sqrt(std::max(0.0, 1 - dy * dy))) - r.left() - 2;
    QFont face = SizeLabel->font();
    const auto widest = [&] {
        const QFontMetrics fm(face);
        return std::max(fm.horizontalAdvance(sizeText(qint64(999) * 1024)),
                        fm.horizontalAdvance(sizeText(qint64(999) << 20)));
    };
    while (widest() > room && face.pointSizeF() > 6)
        face.setPointSizeF(face.pointSizeF() - 0.5);
    SizeLabel->setFont(face);
    SizeLabel->resize(std::max(room, r.width()), r.height());
}

void InformationWindow::showSize(qint64 bytes)
{
    SizeLabel->setText(sizeText(bytes));
    // The slider carries the size too, so that a screen reader says it with
    // the quality; Qt announces the change of a description.
    qualityBar->setAccessibleDescription(
        bytes == PictureDocument::JpegSizeComing ? QStringLiteral("JPEG の大きさを計算中")
        : bytes < 0                              ? QString()
                    : QStringLiteral("JPEG の大きさ %1").arg(sizeText(bytes)));
}

QString InformationWindow::sizeText(qint64 bytes)
{
    if (bytes == PictureDocument::JpegSizeComing)
        return QStringLiteral("…");
    if (bytes < 0)
        return {};
    // Three digits at the most: the read-out has little room.
    const qint64 kb = std::max<qint64>(1, (bytes + 512) / 1024);
    if (kb < 1000)
        return QStringLiteral("約 %1 KB").arg(kb);
    const double mb = double(bytes) / (1024 * 1024);
    return QStringLiteral("約 %1 MB").arg(mb, 0, 'f', mb < 9.95 ? 1 : 0);
}

void InformationWindow::centreOn(const QScreen *screen)
{
    // Shown without an owner: centred on the screen.
    if (!screen)
        return;
    const QRect s = screen->geometry();
    move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
}

void InformationWindow::showWindow()
{
    ::showWindow(this);
}

void InformationWindow::showEvent(QShowEvent *event)
{
    // Brought back on the main window's screen where it is not there already.
    if (!event->spontaneous()) {
        const QScreen *screen = ownersScreen(this);
        if (screen && !screen->geometry().contains(geometry().center()))
            centreOn(screen);
    }
    QWidget::showEvent(event);
}

void InformationWindow::paintEvent(QPaintEvent *event)
{
    if (!drawsOwnEdge_) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawEllipse(QRectF(rect()));
}

bool InformationWindow::focusNextPrevChild(bool next)
{
    if (tabOut) {
        tabOut(next);
        return true;
    }
    return QWidget::focusNextPrevChild(next);
}

void InformationWindow::mousePressEvent(QMouseEvent *event)
{
    int16_t button = 0;
    if (event->button() == Qt::LeftButton)
        button = 1;
    else if (event->button() == Qt::RightButton)
        button = 2;
    else if (event->button() == Qt::MiddleButton)
        button = 4;
    const Qt::KeyboardModifiers m = event->modifiers();
    const int16_t shift =
        int16_t((m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
                (m & Qt::AltModifier ? 4 : 0));
    const QPointF at = event->position();
    rt::guard([&] {
        mousePressed(button, shift, float(at.x() * rt::TwipsPerPixel),
                     float(at.y() * rt::TwipsPerPixel));
    });
}

// --- handlers ------------------------------------------------------------------------------

void InformationWindow::loadWindow()
{
    const float width = Width();
    const float twipsPerPixelX = rt::TwipsPerPixel;
    const float height = Height();
    const float twipsPerPixelY = rt::TwipsPerPixel;
    // The window's region takes whole pixels.
    const int32_t right = rt::idiv32(rt::roundToInt32(width), rt::roundToInt32(twipsPerPixelX));
    const int32_t bottom = rt::idiv32(rt::roundToInt32(height), rt::roundToInt32(twipsPerPixelY));
    // The ellipse inscribed in the outer rectangle.
    shape_.setEllipticRegion(this, 0, 0, right, bottom);
    qualityLabel->setText(QString::number(doc_.JpegQuality()));
    // The main window is still in its own start-up here.
    showMainWindow_();
}

void InformationWindow::qualityChanged()
{
    qualityLabel->setText(QString::number(qualityBar->value()));
    doc_.setJpegQuality(qualityBar->value());
}

void InformationWindow::mousePressed(int16_t Button, int16_t, float, float)
{
    if (Button & 1)
        shape_.beginCaptionDrag(this);
}
