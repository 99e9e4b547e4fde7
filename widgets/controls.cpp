#include "widgets/controls.h"

#include "core/runtime.h"
#include "widgets/flatten.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWindow>

PictureBox::PictureBox(QWidget *parent, bool autoSize) : QFrame(parent), autoSize_(autoSize)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(defs::PictureBorderPx);
    setAutoFillBackground(true);
    // The theme's button face, and its text colour on it.
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    p.setColor(QPalette::WindowText, p.color(QPalette::ButtonText));
    setPalette(p);
}

void PictureBox::setPicture(const QImage &picture)
{
    picture_ = flattenOnto(picture, palette().color(QPalette::Window));
    if (autoSize_)
        resize(picture_.width() + 2 * defs::PictureBorderPx,
               picture_.height() + 2 * defs::PictureBorderPx);
    update();
}

float PictureBox::Width() const
{
    return rt::pixelsToTwips(width());
}
float PictureBox::Height() const
{
    return rt::pixelsToTwips(height());
}
void PictureBox::setWidthTwips(float twips)
{
    resize(rt::twipsToPixels(twips), height());
}
QPoint PictureBox::innerOrigin() const
{
    return {defs::PictureBorderPx, defs::PictureBorderPx};
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (!picture_.isNull()) {
        QPainter painter(this);
        painter.drawImage(innerOrigin(), picture_);
    }
}

ImageBox::ImageBox(QWidget *parent) : QWidget(parent) {}

void ImageBox::setPicture(const QImage &picture)
{
    picture_ = picture;
    scaled_ = QPixmap();
    update();
}

void ImageBox::setWidthTwips(float twips)
{
    resize(rt::twipsToPixels(twips), height());
}
void ImageBox::setHeightTwips(float twips)
{
    resize(width(), rt::twipsToPixels(twips));
}

void ImageBox::paintEvent(QPaintEvent *)
{
    if (picture_.isNull() || width() <= 0 || height() <= 0)
        return;
    // Scaled once per size, to the screen's own pixels.
    const qreal dpr = devicePixelRatioF();
    const QSize device = (QSizeF(size()) * dpr).toSize();
    if (scaled_.size() != device) {
        scaled_ = QPixmap::fromImage(
            picture_.size() == device
                ? picture_
                : picture_.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        scaled_.setDevicePixelRatio(dpr);
    }
    QPainter(this).drawPixmap(0, 0, scaled_);
}

void ImageBox::mousePressEvent(QMouseEvent *event)
{
    pressed_ = event->button() == Qt::LeftButton;
}

void ImageBox::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click)
        emit clicked();
}

GraphicalButton::GraphicalButton(QWidget *parent, const QString &picture,
                                 const QString &downPicture)
    : QPushButton(parent), normal_(picture), down_(downPicture.isEmpty() ? picture : downPicture)
{
    // A window disabled while the About box is open keeps its look.
    normal_.addFile(picture, QSize(), QIcon::Disabled);
    down_.addFile(downPicture.isEmpty() ? picture : downPicture, QSize(), QIcon::Disabled);
    setIcon(normal_);
    setIconSize(QSize(32, 32));
    if (!downPicture.isEmpty()) {
        connect(this, &QPushButton::pressed, this, [this] { setIcon(down_); });
        connect(this, &QPushButton::released, this, [this] { setIcon(normal_); });
    }
}

void showWindow(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
    // A handler run by the showing (a resize) may have ended the program.
    rt::checkpoint();
}

QScreen *ownersScreen(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    if (handle && handle->transientParent() && handle->transientParent()->screen())
        return handle->transientParent()->screen();
    return QGuiApplication::primaryScreen();
}

void keepLookWhenDisabled(QWidget *window)
{
    QPalette p = window->palette();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = QPalette::ColorRole(role);
        p.setColor(QPalette::Disabled, r, p.color(QPalette::Active, r));
    }
    window->setPalette(p);
}

namespace defs
{

QFont font(double pointSize, bool bold, bool italic)
{
    // Only installed faces go in: fontconfig would answer the first, missing
    // one with a Latin face and leave the Japanese glyphs to per-glyph fallback.
    static const QStringList families = [] {
        // Looked up in the list first (a missing family asked for by name costs a
        // font-matching pass of its own); the list has each face under one name
        // only, the locale's ("IPA Pゴシック" under a Japanese one), so a name not
        // in it is asked for.
        const QStringList all = QFontDatabase::families();
        QStringList installed;
        // The first installed face is enough: fontconfig falls back from it.
        for (const char *family : FontFamilies) {
            const QString name = QString::fromUtf8(family);
            if (all.contains(name) || QFontDatabase::hasFamily(name)) {
                installed << name;
                break;
            }
        }
        return installed;
    }();
    QFont f;
    if (!families.isEmpty())
        f.setFamilies(families);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

void place(QWidget *control, const ControlDef &def, QPoint innerOrigin)
{
    control->setObjectName(QString::fromLatin1(def.name));
    control->setGeometry(innerOrigin.x() + rt::twipsToPixels(def.left),
                         innerOrigin.y() + rt::twipsToPixels(def.top), rt::twipsToPixels(def.width),
                         rt::twipsToPixels(def.height));
}

QLabel *label(QWidget *parent, const QString &text, const QColor &background)
{
    auto *l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setWordWrap(true);
    // A press on a label is the label's own: it never reaches the window below it.
    l->setAttribute(Qt::WA_NoMousePropagation);
    if (background.isValid()) {
        // A fixed background keeps black text, readable under any theme.
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, background);
        p.setColor(QPalette::WindowText, Qt::black);
        l->setPalette(p);
    }
    return l;
}

namespace
{
// Qt's scroll bar steps up on the left arrow (its controls are inverted for the
// vertical case); here left, up and page up step down, the others up.
class HScrollBar : public QScrollBar
{
public:
    explicit HScrollBar(QWidget *parent) : QScrollBar(Qt::Horizontal, parent) {}

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            triggerAction(SliderSingleStepSub);
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            triggerAction(SliderSingleStepAdd);
            break;
        case Qt::Key_PageUp:
            triggerAction(SliderPageStepSub);
            break;
        case Qt::Key_PageDown:
            triggerAction(SliderPageStepAdd);
            break;
        default:
            QScrollBar::keyPressEvent(event);
        }
    }

    // The style draws no focus on a scroll bar: its thumb is marked instead,
    // so that the keyboard's place can be seen.
    void paintEvent(QPaintEvent *event) override
    {
        QScrollBar::paintEvent(event);
        if (!hasFocus())
            return;
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect thumb = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                    QStyle::SC_ScrollBarSlider, this);
        QPainter p(this);
        QColor mark = palette().color(QPalette::Highlight);
        mark.setAlpha(110);
        p.fillRect(thumb.adjusted(1, 1, -1, -1), mark);
        p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        p.drawRect(thumb.adjusted(1, 1, -2, -2));
    }
    void focusInEvent(QFocusEvent *event) override
    {
        QScrollBar::focusInEvent(event);
        update();
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        QScrollBar::focusOutEvent(event);
        update();
    }
};
} // namespace

QScrollBar *scrollBar(QWidget *parent, const int (&settings)[5])
{
    auto *s = new HScrollBar(parent);
    s->setRange(settings[0], settings[1]);
    s->setValue(settings[2]);
    s->setSingleStep(settings[3]);
    s->setPageStep(settings[4]);
    s->setTracking(false);
    s->setFocusPolicy(Qt::StrongFocus);
    return s;
}

} // namespace defs
