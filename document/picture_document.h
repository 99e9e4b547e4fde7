#pragma once
// The picture document: the main window's state record, the program-wide
// JPEG quality and the current picture, without any widget. The windows are
// its views; the commands change it and, in the design's words, ask its views
// to show what changed.

#include <QColor>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

#include "platform/file_stamp.h"

#include <cstdint>

class PictureDocument : public QObject
{
    Q_OBJECT
public:
    PictureDocument();

    // --- the main window's state record ---
    QString FileName;
    float PicWidth = 0;
    int32_t PicHeight = 0;
    int16_t IEMode = 0; // 1 offline (a local HTML file), 0 online (a typed address)
    int32_t CaptureWait = 0;

    // --- program-wide ---
    int32_t JpegQuality() const { return jpegQuality_; }
    void setJpegQuality(int32_t quality);

    // --- Picture1: the current picture at full size ---
    // Its pixels are what Save writes: 32 bits, transparent parts laid on the
    // picture box's background.
    const QImage &picture() const { return picture_; }
    void setPicture(const QImage &picture);
    // What Image1 shows: the picture as it came, transparent parts and all,
    // so that the window shows through them.
    const QImage &shownPicture() const { return shown_; }
    // Outer size in twips (the picture box's border included).
    float pictureWidth() const;
    float pictureHeight() const;
    // The picture box's background, which transparent parts of a picture take.
    void setPictureBackground(const QColor &background) { background_ = background; }

    // The size Save would write now, in bytes, or one of these.
    static constexpr qint64 NoJpegSize = -1, JpegSizeComing = -2;
    qint64 jpegSize() const { return jpegSize_; }
    void setJpegSize(qint64 bytes)
    {
        jpegSize_ = bytes;
        emit jpegSizeChanged(bytes);
    }

    // Files this run wrote, as it left them: saving over them again needs no
    // trash copy.
    platform::WrittenFiles writtenFiles;

    // --- requests to the views ---
    // Form2.Show.
    void showInformationWindow() { emit informationWindowRequested(); }
    // Form2.Label1 = name.
    void showFileName(const QString &name) { emit fileNameShown(name); }
    // Image1 takes Picture1's size.
    void showPictureAtFullSize() { emit fullSizeRequested(); }
    // The main window's layout, Form_Resize.
    void fitPicture() { emit fitRequested(); }
    // IEMode changed: the menu's check marks follow.
    void modeChanged() { emit ieModeChanged(); }

signals:
    void pictureChanged();
    void jpegQualityChanged(int32_t quality);
    void informationWindowRequested();
    void fileNameShown(const QString &name);
    void fullSizeRequested();
    void fitRequested();
    void ieModeChanged();
    void jpegSizeChanged(qint64 bytes);

private:
    QImage picture_, shown_;
    QColor background_;
    int32_t jpegQuality_ = 0;
    qint64 jpegSize_ = NoJpegSize;
};
