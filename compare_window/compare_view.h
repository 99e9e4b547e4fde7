#pragma once
// The original picture and its JPEG side by side on one canvas, split by a
// divider the mouse drags: the same pixels under the same place, zoomed and
// panned together. At a zoom of N, one picture pixel takes N×N device pixels.

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <optional>

class PictureDocument;

class CompareView : public QWidget
{
    Q_OBJECT
public:
    explicit CompareView(PictureDocument &doc, QWidget *parent = nullptr);

    // The whole picture in the view; other zooms are device pixels per picture pixel.
    static constexpr int Fit = 0;
    int zoom() const { return zoom_; }
    // The picture point under at (view coordinates; the centre when none) stays there.
    void setZoom(int zoom, std::optional<QPointF> at = {});
    // One step larger (steps > 0) or smaller among fit, 100, 200 and 400 %.
    void zoomBy(int steps, std::optional<QPointF> at = {});
    // The divider's place, as a share of the width from the left.
    double divider() const { return divider_; }
    void setDivider(double share);
    // Moves the picture by a share of the view (arrow keys).
    void panBy(double across, double down);

    // Device pixels per picture pixel as drawn now.
    double scale() const;
    // Where a picture point is drawn, in view coordinates, and back.
    QPointF viewPoint(QPointF picturePoint) const;
    QPointF picturePoint(QPointF viewPoint) const;

    // The side captions, as drawn and as a screen reader reads them.
    static QString originalCaption();
    QString jpegCaption() const;

signals:
    void zoomChanged(int zoom);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    enum class Drag { None, Divider, Pan };
    struct Placement {
        double scale;   // device pixels per picture pixel
        QPointF origin; // device position of the picture's top-left corner
    };
    Placement placement() const;
    double fitScale() const;
    QSizeF deviceSize() const;
    void keepPictureInView();
    void pictureChanged();
    void keepLeftOver();
    void drawPicture(class QPainter &p, const QImage &picture, QImage &scaledCache,
                     const Placement &at) const;
    bool nearDivider(QPointF at) const;
    void describe();

    PictureDocument &doc_;
    QImage original_; // in sRGB, as Save encodes it
    // Scaled copies for a fractional zoom, drawn at every paint.
    mutable QImage originalScaled_, jpegScaled_;
    // What the JPEG side showed, kept while the next JPEG is decoded.
    QImage leftOver_;
    Placement leftOverAt_{};
    int zoom_ = Fit;
    double divider_ = 0.5;
    QPointF centre_; // the picture point at the view's centre
    Drag drag_ = Drag::None;
    QPointF dragFrom_, centreFrom_;
};
