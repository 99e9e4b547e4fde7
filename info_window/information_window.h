#pragma once
// The picture information window: borderless, cut to an ellipse, dragged by
// its background; shows the file name and holds the JPEG quality slider.

#include <QWidget>

#include <cstdint>
#include <functional>

class PictureDocument;
namespace platform
{
class WindowShape;
}
class QLabel;
class QScreen;
class QScrollBar;

class InformationWindow : public QWidget
{
    Q_OBJECT
public:
    // showMainWindow: MainWindow.showWindow, which this window's load asks for.
    InformationWindow(PictureDocument &doc, platform::WindowShape &shape,
                      std::function<void()> showMainWindow);

    QLabel *fileNameLabel, *qualityLabel, *resolutionTitle;
    // The size the JPEG will have at the current quality ("約 123 KB").
    QLabel *SizeLabel;
    static QString sizeText(qint64 bytes);
    QScrollBar *qualityBar;

    void loadWindow();
    void qualityChanged();
    // Button: 1 left, 2 right, 4 middle; Shift: 1 Shift, 2 Ctrl, 4 Alt; X, Y in twips.
    void mousePressed(int16_t Button, int16_t Shift, float X, float Y);

    // Outer size in twips (no border: the client size).
    float Width() const;
    float Height() const;
    void showWindow();
    // Tab or Shift+Tab from the slider: back to the main window.
    std::function<void(bool forward)> tabOut;

protected:
    bool focusNextPrevChild(bool next) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void centreOn(const QScreen *screen);
    void fitSizeLabel();
    void showSize(qint64 bytes);
    PictureDocument &doc_;
    platform::WindowShape &shape_;
    std::function<void()> showMainWindow_;
    bool drawsOwnEdge_ = false;
};
