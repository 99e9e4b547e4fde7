#include "compare_window/compare_window.h"

#include "compare_window/compare_view.h"
#include "core/runtime.h"
#include "document/picture_document.h"
#include "widgets/controls.h"
#include "widgets/definitions.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QGuiApplication>
#include <QHideEvent>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>

CompareWindow::CompareWindow(PictureDocument &doc) : doc_(doc)
{
    auto *client = new QWidget(this);
    setCentralWidget(client);
    setWindowTitle(QString::fromUtf8(defs::CompareWindow.caption));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/program.ico")));
    setObjectName(QString::fromLatin1(defs::CompareWindow.name));

    view = new CompareView(doc_, client);
    auto *zooms = new QHBoxLayout;
    zooms->setSpacing(2);
    auto *group = new QButtonGroup(this);
    int i = 0;
    for (int zoom : defs::CompareZooms) {
        const QString caption = zoom == CompareView::Fit ? QStringLiteral("全体表示")
                                                         : QStringLiteral("%1%").arg(zoom * 100);
        auto *button = new QToolButton(client);
        button->setText(caption);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(
            zoom == CompareView::Fit ? caption : QStringLiteral("%1 %").arg(zoom * 100));
        const QKeySequence keys(QStringLiteral("Ctrl+%1").arg(zoom));
        button->setToolTip(
            QStringLiteral("%1（%2）").arg(caption, keys.toString(QKeySequence::NativeText)));
        group->addButton(button, zoom);
        zooms->addWidget(button);
        zoomButtons[i++] = button;
        connect(button, &QToolButton::clicked, this, [this, zoom] { view->setZoom(zoom); });
        // Wherever the focus is in this window, as the menus' keys work.
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, zoom] {
            const QPointF pointer = view->mapFromGlobal(QCursor::pos());
            view->setZoom(zoom, view->rect().contains(pointer.toPoint())
                                    ? std::optional<QPointF>(pointer)
                                    : std::nullopt);
        });
    }
    group->button(CompareView::Fit)->setChecked(true);
    connect(view, &CompareView::zoomChanged, this, [group](int zoom) {
        if (QAbstractButton *b = group->button(zoom))
            b->setChecked(true);
        else if (QAbstractButton *checked = group->checkedButton()) {
            group->setExclusive(false);
            checked->setChecked(false);
            group->setExclusive(true);
        }
    });
    zooms->addSpacing(12);
    auto *hint = new QLabel(
        QStringLiteral("境界をドラッグで比較・Ctrl+ホイールで拡大・ドラッグか矢印キーで移動"),
        client);
    hint->setForegroundRole(QPalette::PlaceholderText);
    zooms->addWidget(hint, 1);

    sizeLabel = new QLabel(client);
    sizeLabel->setTextInteractionFlags(Qt::NoTextInteraction);

    auto *layout = new QVBoxLayout(client);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    layout->addLayout(zooms);
    layout->addWidget(view, 1);
    layout->addWidget(sizeLabel);
    setTabOrder(zoomButtons[3], view);

    connect(&doc_, &PictureDocument::jpegSizeChanged, this, &CompareWindow::showSize);
    connect(&doc_, &PictureDocument::pictureChanged, this, &CompareWindow::showSize);
    showSize();

    setMinimumSize(rt::twipsToPixels(defs::CompareWindowMinimum[0]),
                   rt::twipsToPixels(defs::CompareWindowMinimum[1]));
    const QSize size(rt::twipsToPixels(defs::CompareWindow.clientWidth),
                     rt::twipsToPixels(defs::CompareWindow.clientHeight));
    resize(size);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->availableGeometry();
        move(s.x() + (s.width() - size.width()) / 2, s.y() + (s.height() - size.height()) / 2);
    }
}

QString CompareWindow::sizeText(qint64 bytes, qint64 sourceBytes, qint64 pixels)
{
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QString text = QStringLiteral("%1 バイト").arg(japanese.toString(bytes));
    // The share of the file it came from, or of the bare pixels for a capture.
    const qint64 whole = sourceBytes > 0 ? sourceBytes : pixels * 3;
    if (whole > 0) {
        const double share = 100.0 * double(bytes) / double(whole);
        text += QStringLiteral("（%1の %2 %）")
                    .arg(sourceBytes > 0 ? QStringLiteral("元のファイル")
                                         : QStringLiteral("無圧縮の画素"))
                    .arg(japanese.toString(share, 'f', share < 10 ? 1 : 0));
    }
    return text;
}

void CompareWindow::showSize()
{
    const qint64 bytes = doc_.jpegSize();
    const QString quality = QStringLiteral("JPEG 品質 %1：").arg(doc_.JpegQuality());
    if (doc_.picture().isNull())
        sizeLabel->setText(QStringLiteral("画像がありません"));
    else if (bytes == PictureDocument::JpegSizeComing)
        sizeLabel->setText(quality + QStringLiteral("大きさを計算中…"));
    else if (bytes < 0)
        sizeLabel->setText(quality + QStringLiteral("JPEG にできません"));
    else
        sizeLabel->setText(quality +
                           sizeText(bytes, doc_.sourceBytes(),
                                    qint64(doc_.picture().width()) * doc_.picture().height()));
}

void CompareWindow::showWindow()
{
    ::showWindow(this);
}

void CompareWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The JPEG is decoded only while someone looks at it.
    if (!wanting_) {
        wanting_ = true;
        doc_.wantJpegPicture(true);
    }
}

void CompareWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    // Minimised, it is still open; closed, the decoded picture goes.
    if (wanting_ && !isMinimized() && !event->spontaneous()) {
        wanting_ = false;
        doc_.wantJpegPicture(false);
    }
}
