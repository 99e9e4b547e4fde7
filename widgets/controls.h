#pragma once
// The few controls Qt has no ready equivalent for, and the helpers that build
// controls from the definition tables.

#include "widgets/definitions.h"

#include <QFrame>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

class QLabel;
class QScreen;
class QScrollBar;

// A picture box: sunken two-pixel border, an optional picture drawn at its
// natural size, optionally sizing itself to that picture. Its picture is kept
// as 32-bit pixels, transparent parts filled with the box's background colour.
class PictureBox : public QFrame
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent, bool autoSize = false);

    const QImage &picture() const { return picture_; }
    void setPicture(const QImage &picture);

    // Outer size in twips.
    float Width() const;
    float Height() const;
    void setWidthTwips(float twips);
    // Top-left of the inner area, where contained controls are measured from.
    QPoint innerOrigin() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage picture_;
    bool autoSize_;
};

// The windowless picture display: stretches its picture to its own size.
// The scaled copy is made once per size, not on every paint.
class ImageBox : public QWidget
{
    Q_OBJECT
public:
    explicit ImageBox(QWidget *parent);

    const QImage &picture() const { return picture_; }
    void setPicture(const QImage &picture);

    void setWidthTwips(float twips);
    void setHeightTwips(float twips);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QImage picture_;
    QPixmap scaled_;
    bool pressed_ = false;
};

// A graphical command button: a picture, no text, and optionally another
// picture while it is held down.
class GraphicalButton : public QPushButton
{
    Q_OBJECT
public:
    GraphicalButton(QWidget *parent, const QString &picture, const QString &downPicture = {});

private:
    QIcon normal_, down_;
};

// A window that is disabled (it takes no input while the About box is open)
// is drawn as when it is enabled.
void keepLookWhenDisabled(QWidget *window);

// Shows a window, or brings it to the front and activates it when it is
// shown already.
void showWindow(QWidget *window);

// The screen of the window this one belongs to (the main window), where its
// own place is reckoned: the primary screen when it belongs to none.
QScreen *ownersScreen(const QWidget *window);

namespace defs
{
// The program's fonts: the named face (or its stand-ins) at the given size.
QFont font(double pointSize, bool bold = false, bool italic = false);
// Places a control from its table row inside its container's inner area.
void place(QWidget *control, const ControlDef &def, QPoint innerOrigin = {});
// A label as the tables describe them.
QLabel *label(QWidget *parent, const QString &text, const QColor &background = {});
// A horizontal scroll bar from {minimum, maximum, value, small step, large step}.
// Its value changes only on a click, a key step or the release of the thumb.
QScrollBar *scrollBar(QWidget *parent, const int (&settings)[5]);
} // namespace defs
