#pragma once
// The picture document: the main window's state record, the program-wide
// JPEG quality and the current picture, without any widget. The windows are
// its views; the commands change it and ask its views to show what changed.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

#include "platform/files/file_stamp.h"

#include <cstdint>

class PictureDocument : public QObject
{
    Q_OBJECT
public:
    PictureDocument();

    // --- the main window's state record ---
    QString fileName;
    float PicWidth = 0;
    int32_t PicHeight = 0;
    int16_t offlineMode = 0; // 1 offline (a local HTML file), 0 online (a typed address)
    int32_t CaptureWait = 0;

    // --- program-wide ---
    int32_t JpegQuality() const { return jpegQuality_; }
    void setJpegQuality(int32_t quality);

    // --- pictureBox: the current picture at full size ---
    // Its pixels are what Save writes: 32 bits, transparent parts laid on the
    // picture box's background.
    const QImage &picture() const { return picture_; }
    // sourceBytes: the size of the file it was read from; 0 for a capture.
    void setPicture(const QImage &picture, qint64 sourceBytes = 0);
    qint64 sourceBytes() const { return sourceBytes_; }
    // What pictureView shows: the picture as it came, transparent parts and all,
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
    // The read-out's file: the very bytes Save writes at jpegQuality(), once
    // the size is known; empty before.
    const QByteArray &jpegFile() const { return jpegFile_; }
    int32_t jpegFileQuality() const { return jpegFileQuality_; }
    void setJpegFile(const QByteArray &file, int32_t quality);

    // How that file looks, decoded, while a view asks for it (wantJpegPicture);
    // let go when the quality or the picture changes.
    const QImage &jpegPicture() const { return jpegPicture_; }
    // The quality the shown JPEG picture was made at.
    int32_t jpegPictureQuality() const { return jpegPictureQuality_; }
    // False while a newer one is being made.
    bool jpegPictureCurrent() const
    {
        return !jpegPicture_.isNull() && jpegSize_ >= 0 && jpegPictureQuality_ == jpegQuality_;
    }
    void setJpegPicture(const QImage &picture, int32_t quality);
    // Lets the decoded picture go before the next is made; views keep what
    // they show of it meanwhile (jpegPictureLeaving).
    void releaseJpegPicture();
    // Views that show the JPEG ask for it while they are open.
    void wantJpegPicture(bool wanted);
    bool jpegPictureWanted() const { return jpegPictureViews_ > 0; }

    // Files this run wrote, as it left them: saving over them again needs no
    // trash copy.
    platform::WrittenFiles writtenFiles;

    // --- requests to the views ---
    // InformationWindow.showWindow.
    void showInformationWindow() { emit informationWindowRequested(); }
    // InformationWindow.fileNameLabel = name.
    void showFileName(const QString &name) { emit fileNameShown(name); }
    // pictureView takes pictureBox's size.
    void showPictureAtFullSize() { emit fullSizeRequested(); }
    // The main window's layout, fitToPicture.
    void fitPicture() { emit fitRequested(); }
    // offlineMode changed: the menu's check marks follow.
    void modeChanged() { emit offlineModeChanged(); }

signals:
    void pictureChanged();
    void jpegQualityChanged(int32_t quality);
    void informationWindowRequested();
    void fileNameShown(const QString &name);
    void fullSizeRequested();
    void fitRequested();
    void offlineModeChanged();
    void jpegSizeChanged(qint64 bytes);
    void jpegPictureChanged();
    void jpegPictureLeaving();
    void jpegPictureWantedChanged(bool wanted);

private:
    QImage picture_, shown_;
    QColor background_;
    int32_t jpegQuality_ = 0;
    qint64 jpegSize_ = NoJpegSize;
    qint64 sourceBytes_ = 0;
    QByteArray jpegFile_;
    int32_t jpegFileQuality_ = 0;
    QImage jpegPicture_;
    int32_t jpegPictureQuality_ = 0;
    int jpegPictureViews_ = 0;
};
