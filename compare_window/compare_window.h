#pragma once
// The compare window: the original and the JPEG that Save would write at the
// current quality, split by a divider, with the zoom, the JPEG's size and its
// share of the source. A normal window of its own, resizable; it follows the
// document as the quality or the picture changes.

#include <QMainWindow>

class PictureDocument;
class CompareView;
class QLabel;
class QToolButton;

class CompareWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit CompareWindow(PictureDocument &doc);

    CompareView *view;
    // Fit, 100 %, 200 %, 400 %, in the order of their keys.
    QToolButton *zoomButtons[4];
    QLabel *sizeLabel;

    void showWindow();
    // "123,456 バイト（元のファイルの 12.3 %）" and the like.
    static QString sizeText(qint64 bytes, qint64 sourceBytes, qint64 pixels);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showSize();
    PictureDocument &doc_;
    bool wanting_ = false;
};
