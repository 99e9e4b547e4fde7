#include "compare_window/compare_view.h"

#include "document/picture_document.h"
#include "platform/picture_io/colour_profiles.h"
#include "widgets/definitions.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace
{
// How near the divider a press takes it rather than the picture, in view pixels.
constexpr double DividerGrip = 6;
constexpr double PanStep = 1.0 / 8;
constexpr double DividerStep = 0.05;

bool whole(double scale)
{
    return scale >= 1 && std::abs(scale - std::round(scale)) < 1e-9;
}

// The picture made smaller by averaging each box of pixels, read in its own
// format: Qt's smooth scaling would first copy a whole three-byte picture
// into 32 bits.
QImage shrunk(const QImage &picture, QSize to)
{
    const int sw = picture.width(), sh = picture.height(), tw = to.width(), th = to.height();
    const bool threeBytes = picture.format() == QImage::Format_RGB888;
    if (!threeBytes && picture.format() != QImage::Format_RGB32 &&
        picture.format() != QImage::Format_ARGB32)
        return picture.scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage out(to, QImage::Format_RGB32);
    std::vector<int> firstColumn(size_t(tw) + 1);
    for (int x = 0; x <= tw; ++x)
        firstColumn[size_t(x)] = int(qint64(x) * sw / tw);
    const auto rows = [&](int from, int to) {
        std::vector<quint32> sums(size_t(tw) * 3);
        for (int y = from; y < to; ++y) {
            const int top = int(qint64(y) * sh / th);
            const int bottom = std::max(top + 1, int(qint64(y + 1) * sh / th));
            std::fill(sums.begin(), sums.end(), 0);
            for (int row = top; row < bottom; ++row) {
                const uchar *line = picture.constScanLine(row);
                for (int x = 0; x < tw; ++x) {
                    quint32 r = 0, g = 0, b = 0;
                    const int right =
                        std::max(firstColumn[size_t(x)] + 1, firstColumn[size_t(x) + 1]);
                    for (int c = firstColumn[size_t(x)]; c < right; ++c) {
                        if (threeBytes) {
                            const uchar *pixel = line + 3 * qsizetype(c);
                            r += pixel[0];
                            g += pixel[1];
                            b += pixel[2];
                        } else {
                            const QRgb p = reinterpret_cast<const QRgb *>(line)[c];
                            r += quint32(qRed(p));
                            g += quint32(qGreen(p));
                            b += quint32(qBlue(p));
                        }
                    }
                    sums[size_t(x) * 3] += r;
                    sums[size_t(x) * 3 + 1] += g;
                    sums[size_t(x) * 3 + 2] += b;
                }
            }
            auto *target = reinterpret_cast<QRgb *>(out.scanLine(y));
            for (int x = 0; x < tw; ++x) {
                const quint32 n = quint32((bottom - top) * std::max(1, firstColumn[size_t(x) + 1] -
                                                                           firstColumn[size_t(x)]));
                target[x] = qRgb(int((sums[size_t(x) * 3] + n / 2) / n),
                                 int((sums[size_t(x) * 3 + 1] + n / 2) / n),
                                 int((sums[size_t(x) * 3 + 2] + n / 2) / n));
            }
        }
    };
    // A large picture in two halves at once: the window waits for it.
    if (qint64(sw) * sh < 4'000'000) {
        rows(0, th);
    } else {
        std::thread lower(rows, th / 2, th);
        rows(0, th / 2);
        lower.join();
    }
    return out;
}
} // namespace

CompareView::CompareView(PictureDocument &doc, QWidget *parent) : QWidget(parent), doc_(doc)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(160, 120);
    setAccessibleName(QStringLiteral("比較表示"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&doc_, &PictureDocument::pictureChanged, this, &CompareView::pictureChanged);
    connect(&doc_, &PictureDocument::jpegPictureLeaving, this, &CompareView::keepLeftOver);
    connect(&doc_, &PictureDocument::jpegPictureChanged, this, [this] {
        jpegScaled_ = QImage();
        if (!doc_.jpegPicture().isNull())
            leftOver_ = QImage();
        describe();
        update();
    });
    // The mark that a JPEG is being redone comes and goes with the size.
    connect(&doc_, &PictureDocument::jpegSizeChanged, this, [this] {
        describe();
        update();
    });
    pictureChanged();
}

void CompareView::pictureChanged()
{
    const bool sameSize = doc_.picture().size() == original_.size();
    // The document's sRGB picture is Save's own where nothing is transparent;
    // otherwise the flattened picture is converted here.
    const QImage &shown = doc_.shownPicture();
    original_ = doc_.picture().isNull()    ? QImage()
                : !shown.hasAlphaChannel() ? shown
                                           : platform::colour::toSrgb(doc_.picture());
    originalScaled_ = jpegScaled_ = QImage();
    leftOver_ = QImage();
    if (!sameSize) {
        zoom_ = Fit;
        centre_ = QPointF(original_.width() / 2.0, original_.height() / 2.0);
        emit zoomChanged(zoom_);
    }
    keepPictureInView();
    describe();
    update();
}

QString CompareView::originalCaption()
{
    return QStringLiteral("元の画像");
}

QString CompareView::jpegCaption() const
{
    const int32_t quality =
        doc_.jpegPicture().isNull() ? doc_.JpegQuality() : doc_.jpegPictureQuality();
    QString text = QStringLiteral("JPEG 品質 %1").arg(quality);
    if (!doc_.jpegPictureCurrent())
        text += QStringLiteral("（品質 %1 で作り直し中…）").arg(doc_.JpegQuality());
    return text;
}

void CompareView::describe()
{
    const QString zoom =
        zoom_ == Fit ? QStringLiteral("全体表示") : QStringLiteral("%1 %").arg(zoom_ * 100);
    setAccessibleDescription(original_.isNull()
                                 ? QStringLiteral("画像がありません")
                                 : QStringLiteral("左: %1、右: %2。倍率 %3、境界 %4 %")
                                       .arg(originalCaption(), jpegCaption(), zoom)
                                       .arg(std::lround(divider_ * 100)));
}

// --- geometry ------------------------------------------------------------------------------

QSizeF CompareView::deviceSize() const
{
    return QSizeF(size()) * devicePixelRatioF();
}

double CompareView::fitScale() const
{
    if (original_.isNull())
        return 1;
    const QSizeF view = deviceSize();
    return std::max(1e-6,
                    std::min(view.width() / original_.width(), view.height() / original_.height()));
}

double CompareView::scale() const
{
    return zoom_ == Fit ? fitScale() : double(zoom_);
}

CompareView::Placement CompareView::placement() const
{
    const double s = scale();
    const QSizeF view = deviceSize();
    // Whole device pixels: at 100 % each picture pixel is one device pixel.
    return {s, QPointF(std::round(view.width() / 2 - centre_.x() * s),
                       std::round(view.height() / 2 - centre_.y() * s))};
}

QPointF CompareView::viewPoint(QPointF picturePoint) const
{
    const Placement at = placement();
    return (at.origin + picturePoint * at.scale) / devicePixelRatioF();
}

QPointF CompareView::picturePoint(QPointF viewPoint) const
{
    const Placement at = placement();
    return (viewPoint * devicePixelRatioF() - at.origin) / at.scale;
}

void CompareView::keepPictureInView()
{
    const double s = scale();
    const QSizeF view = deviceSize() / s; // in picture pixels
    const auto keep = [](double centre, double seen, double whole) {
        if (seen >= whole)
            return whole / 2;
        return std::clamp(centre, seen / 2, whole - seen / 2);
    };
    centre_ = QPointF(keep(centre_.x(), view.width(), original_.width()),
                      keep(centre_.y(), view.height(), original_.height()));
}

void CompareView::setZoom(int zoom, std::optional<QPointF> at)
{
    const QPointF anchor = at.value_or(QPointF(width() / 2.0, height() / 2.0));
    const QPointF kept = picturePoint(anchor);
    zoom_ = zoom;
    originalScaled_ = jpegScaled_ = QImage();
    if (zoom_ != Fit) {
        const double s = scale();
        const QSizeF view = deviceSize();
        centre_ = kept -
                  (anchor * devicePixelRatioF() - QPointF(view.width() / 2, view.height() / 2)) / s;
    }
    keepPictureInView();
    emit zoomChanged(zoom_);
    describe();
    update();
}

void CompareView::zoomBy(int steps, std::optional<QPointF> at)
{
    // The zooms in order of size; fit falls where its scale puts it.
    const double now = scale(), fit = fitScale();
    std::vector<std::pair<double, int>> zooms{{fit, Fit}};
    for (int z : defs::CompareZooms)
        if (z != Fit && std::abs(z - fit) > 1e-9)
            zooms.emplace_back(double(z), z);
    std::sort(zooms.begin(), zooms.end());
    int index = 0;
    while (index + 1 < int(zooms.size()) && zooms[size_t(index) + 1].first <= now + 1e-9)
        ++index;
    index = std::clamp(index + steps, 0, int(zooms.size()) - 1);
    if (zooms[size_t(index)].second != zoom_)
        setZoom(zooms[size_t(index)].second, at);
}

void CompareView::setDivider(double share)
{
    divider_ = std::clamp(share, 0.0, 1.0);
    describe();
    update();
}

void CompareView::panBy(double across, double down)
{
    const QSizeF seen = deviceSize() / scale();
    centre_ += QPointF(across * seen.width(), down * seen.height());
    keepPictureInView();
    update();
}

void CompareView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    originalScaled_ = jpegScaled_ = QImage();
    keepPictureInView();
}

// --- painting ------------------------------------------------------------------------------

void CompareView::keepLeftOver()
{
    // What the JPEG side shows now, at the size of the view: a few hundred
    // kilobytes instead of the whole decoded picture.
    const QSizeF view = deviceSize();
    QImage kept(view.toSize(), QImage::Format_RGB32);
    kept.fill(palette().color(QPalette::Dark));
    {
        QPainter p(&kept);
        drawPicture(p, doc_.jpegPicture(), jpegScaled_, placement());
    }
    leftOver_ = kept;
    leftOverAt_ = placement();
    jpegScaled_ = QImage();
}

void CompareView::drawPicture(QPainter &p, const QImage &picture, QImage &scaledCache,
                              const Placement &at) const
{
    if (picture.isNull())
        return;
    const double s = at.scale;
    if (whole(s)) {
        // Only the part in view, each pixel a square of whole device pixels.
        const QSizeF view = deviceSize();
        const int left = std::max(0, int(std::floor(-at.origin.x() / s)));
        const int top = std::max(0, int(std::floor(-at.origin.y() / s)));
        const int right =
            std::min(picture.width(), int(std::ceil((view.width() - at.origin.x()) / s)));
        const int bottom =
            std::min(picture.height(), int(std::ceil((view.height() - at.origin.y()) / s)));
        if (right <= left || bottom <= top)
            return;
        const QRect source(left, top, right - left, bottom - top);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const QRectF target(at.origin.x() + left * s, at.origin.y() + top * s, source.width() * s,
                            source.height() * s);
        // A picture the painter does not draw from as it is gets converted,
        // and so only the part in view.
        if (picture.format() == QImage::Format_RGB32)
            p.drawImage(target, picture, source);
        else
            p.drawImage(target, picture.copy(source));
        return;
    }
    // A fractional scale: the picture scaled once, smoothly when smaller.
    const QSize scaled(std::max(1, int(std::lround(picture.width() * s))),
                       std::max(1, int(std::lround(picture.height() * s))));
    if (scaledCache.size() != scaled)
        scaledCache = s < 1 ? shrunk(picture, scaled)
                            : picture.scaled(scaled, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    p.drawImage(at.origin, scaledCache);
}

void CompareView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const double dpr = devicePixelRatioF();
    const QSizeF view = deviceSize();
    const QColor background = palette().color(QPalette::Dark);
    p.fillRect(rect(), background);
    if (original_.isNull()) {
        p.setPen(palette().color(QPalette::BrightText));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("画像がありません"));
        return;
    }
    const Placement at = placement();
    const double split = std::round(divider_ * view.width());

    p.save();
    p.scale(1 / dpr, 1 / dpr);
    p.setClipRect(QRectF(0, 0, split, view.height()));
    drawPicture(p, original_, originalScaled_, at);
    p.setClipRect(QRectF(split, 0, view.width() - split, view.height()));
    if (!doc_.jpegPicture().isNull()) {
        drawPicture(p, doc_.jpegPicture(), jpegScaled_, at);
    } else if (!leftOver_.isNull()) {
        // Where the kept view's picture points land now.
        const double k = at.scale / leftOverAt_.scale;
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.drawImage(QRectF(at.origin - leftOverAt_.origin * k, QSizeF(leftOver_.size()) * k),
                    leftOver_);
    }
    p.restore();

    // The divider: a light line with a dark edge and a grip in the middle.
    const double x = split / dpr;
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0, 0, 0, 160), 3));
    p.drawLine(QPointF(x, 0), QPointF(x, height()));
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(QPointF(x, 0), QPointF(x, height()));
    const QPointF grip(x, height() / 2.0);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0, 0, 0, 160), 1));
    p.drawEllipse(grip, 10, 10);
    QPainterPath arrows;
    arrows.moveTo(grip + QPointF(-3, -4));
    arrows.lineTo(grip + QPointF(-7, 0));
    arrows.lineTo(grip + QPointF(-3, 4));
    arrows.moveTo(grip + QPointF(3, -4));
    arrows.lineTo(grip + QPointF(7, 0));
    arrows.lineTo(grip + QPointF(3, 4));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 1.5));
    p.drawPath(arrows);

    // The captions, each in its side's upper corner.
    const auto caption = [&](const QString &text, bool right, bool busy) {
        const QFontMetrics fm(font());
        const QRect box = fm.boundingRect(text).adjusted(-6, -3, 6, 3);
        QRect placed(QPoint(0, 0), box.size());
        placed.moveTop(6);
        if (right)
            placed.moveRight(width() - 7);
        else
            placed.moveLeft(6);
        p.setPen(Qt::NoPen);
        p.setBrush(busy ? QColor(150, 90, 0, 220) : QColor(0, 0, 0, 170));
        p.drawRoundedRect(placed, 4, 4);
        p.setPen(Qt::white);
        p.drawText(placed, Qt::AlignCenter, text);
    };
    caption(originalCaption(), false, false);
    caption(jpegCaption(), true, !doc_.jpegPictureCurrent());
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

// --- input ---------------------------------------------------------------------------------

bool CompareView::nearDivider(QPointF at) const
{
    const double x = std::round(divider_ * deviceSize().width()) / devicePixelRatioF();
    return std::abs(at.x() - x) <= DividerGrip;
}

void CompareView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    drag_ = nearDivider(event->position()) ? Drag::Divider : Drag::Pan;
    dragFrom_ = event->position();
    centreFrom_ = centre_;
    if (drag_ == Drag::Pan)
        setCursor(Qt::ClosedHandCursor);
}

void CompareView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF at = event->position();
    if (drag_ == Drag::Divider) {
        setDivider(at.x() / std::max(1, width()));
    } else if (drag_ == Drag::Pan) {
        centre_ = centreFrom_ - (at - dragFrom_) * devicePixelRatioF() / scale();
        keepPictureInView();
        update();
    } else {
        setCursor(nearDivider(at) ? Qt::SplitHCursor : Qt::OpenHandCursor);
    }
}

void CompareView::mouseReleaseEvent(QMouseEvent *event)
{
    drag_ = Drag::None;
    setCursor(nearDivider(event->position()) ? Qt::SplitHCursor : Qt::OpenHandCursor);
}

void CompareView::wheelEvent(QWheelEvent *event)
{
    const QPoint turn = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        if (turn.y() != 0)
            zoomBy(turn.y() > 0 ? 1 : -1, event->position());
    } else {
        // A notch moves a tenth of the view, as a scroll area does.
        panBy(-turn.x() / 1200.0, -turn.y() / 1200.0);
    }
    event->accept();
}

void CompareView::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Left:
        shift ? setDivider(divider_ - DividerStep) : panBy(-PanStep, 0);
        break;
    case Qt::Key_Right:
        shift ? setDivider(divider_ + DividerStep) : panBy(PanStep, 0);
        break;
    case Qt::Key_Up:
        panBy(0, -PanStep);
        break;
    case Qt::Key_Down:
        panBy(0, PanStep);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CompareView::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void CompareView::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}
