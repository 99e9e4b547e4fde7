#include "main_window/main_window.h"

#include "capture/browser_capture.h"
#include "capture/clipboard_capture.h"
#include "core/runtime.h"
#include "document/picture_document.h"
#include "picture_files/open_picture.h"
#include "picture_files/save_jpeg.h"
#include "widgets/controls.h"
#include "widgets/definitions.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

namespace
{
const defs::ControlDef &def(const char *name)
{
    return defs::control(defs::MainWindowControls, name);
}
} // namespace

MainWindow::MainWindow(PictureDocument &doc, const platform::Services &sys, OtherWindows others)
    : fileDialog(sys.fileChooser), doc_(doc), sys_(sys), others_(std::move(others))
{
    setWindowTitle(QString::fromUtf8(defs::MainWindow.caption));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/program.ico")));
    buildMenus();
    buildControls();
    showDocument();
    keepLookWhenDisabled(this);
    setAcceptDrops(true);

    // The table places the client area (below the menu bar); Qt's geometry
    // of a top-level excludes the frame but includes the menu bar.
    const int clientW = rt::twipsToPixels(defs::MainWindow.clientWidth);
    const int menuH = menuBarHeight(clientW);
    setGeometry(rt::twipsToPixels(defs::MainWindow.clientLeft),
                rt::twipsToPixels(defs::MainWindow.clientTop) - menuH, clientW,
                rt::twipsToPixels(defs::MainWindow.clientHeight) + menuH);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus()
{
    QMenu *heading = nullptr;
    for (const defs::MenuDef &m : defs::MainWindowMenu) {
        const QString caption = QString::fromUtf8(m.caption);
        if (m.level == 0) {
            heading = menuBar()->addMenu(caption);
            heading->setObjectName(QString::fromLatin1(m.name));
            continue;
        }
        QAction *item = caption == u"-" ? heading->addSeparator() : heading->addAction(caption);
        item->setObjectName(QString::fromLatin1(m.name));
        setChecked(item, m.checked);
    }
    fileMenu = menuBar()->findChild<QMenu *>(QStringLiteral("fileMenu"));
    editMenu = menuBar()->findChild<QMenu *>(QStringLiteral("editMenu"));
    windowMenu = menuBar()->findChild<QMenu *>(QStringLiteral("windowMenu"));
    auto item = [this](const char *name) {
        return menuBar()->findChild<QAction *>(QString::fromLatin1(name));
    };
    openItem = item("openItem");
    saveItem = item("saveItem");
    quitItem = item("quitItem");
    copyDesktopItem = item("copyDesktopItem");
    importClipboardItem = item("importClipboardItem");
    browserCaptureItem = item("browserCaptureItem");
    menuSeparator = item("menuSeparator");
    offlineItem = item("offlineItem");
    onlineItem = item("onlineItem");
    compareItem = item("compareItem");
    aboutItem = item("aboutItem");
    for (const defs::ShortcutDef &keys : defs::MainWindowShortcuts)
        item(keys.item)->setShortcut(QKeySequence(QString::fromLatin1(keys.keys)));

    const std::pair<QAction *, void (MainWindow::*)()> handlers[] = {
        {openItem, &MainWindow::openChosen},
        {saveItem, &MainWindow::saveChosen},
        {quitItem, &MainWindow::quitChosen},
        {copyDesktopItem, &MainWindow::copyDesktopChosen},
        {importClipboardItem, &MainWindow::importClipboardChosen},
        {browserCaptureItem, &MainWindow::browserCaptureChosen},
        {offlineItem, &MainWindow::offlineChosen},
        {onlineItem, &MainWindow::onlineChosen},
        {compareItem, &MainWindow::compareChosen},
        {aboutItem, &MainWindow::aboutChosen},
    };
    for (const auto &entry : handlers) {
        QAction *action = entry.first;
        void (MainWindow::*handler)() = entry.second;
        connect(action, &QAction::triggered, this, [this, action, handler] {
            // A key reaches an item of a window the About box has disabled.
            if (!isEnabled())
                return;
            // Qt flips a checkable item on its own; only the handlers set check marks here.
            if (action->isCheckable())
                action->setChecked(!action->isChecked());
            rt::guard([this, handler] { (this->*handler)(); });
        });
    }
}

QList<QAction *> MainWindow::keyedItems() const
{
    QList<QAction *> items;
    for (const defs::ShortcutDef &keys : defs::MainWindowShortcuts)
        items << menuBar()->findChild<QAction *>(QString::fromLatin1(keys.item));
    return items;
}

void MainWindow::setChecked(QAction *item, bool checked)
{
    // Unchecked items are not checkable, so no empty check box is drawn beside them.
    item->setCheckable(checked);
    item->setChecked(checked);
}

void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setAutoFillBackground(true);
    QPalette p = client->palette();
    p.setColor(QPalette::Window, defs::color(defs::MainWindow.background));
    p.setColor(QPalette::WindowText, Qt::black);
    client->setPalette(p);
    setCentralWidget(client);

    // A control's table row says whether it is measured in the strip's inner area.
    auto place = [this](QWidget *control, const char *name) {
        const defs::ControlDef &d = def(name);
        defs::place(control, d, *d.container ? toolStrip->innerOrigin() : QPoint());
    };

    // The windowless image lies under every windowed control.
    pictureView = new ImageBox(client);
    place(pictureView, "pictureView");
    // Named formats: an unnamed one makes Qt try every image plug-in on the file.
    QBitmap hand(QStringLiteral(":/pictures/hand.xbm"), "XBM");
    QBitmap handMask(QStringLiteral(":/pictures/hand_mask.xbm"), "XBM");
    pictureView->setCursor(QCursor(hand, handMask, 6, 0));

    pictureBox = new PictureBox(client, true);
    place(pictureBox, "pictureBox");
    pictureBox->hide();
    // The picture box's background shows through transparent parts of its picture.
    doc_.setPictureBackground(pictureBox->palette().color(QPalette::Window));
    doc_.setPicture(QImage(QStringLiteral(":/pictures/logo.gif")));
    pictureBox->setPicture(doc_.picture());

    toolStrip = new PictureBox(client);
    place(toolStrip, "toolStrip");
    // A frame that does nothing takes no focus: the keyboard starts at the buttons.
    toolStrip->setFocusPolicy(Qt::NoFocus);

    const struct {
        GraphicalButton *&button;
        const char *name;
        const char *picture;
        const char *downPicture;
        const char *toolTip; // what a new user reads when pointing at it
    } buttons[] = {
        {openButton, "openButton", "open.gif", nullptr, "画像ファイルを開く"},
        {saveButton, "saveButton", "save.gif", nullptr, "JPEGで保存"},
        {copyDesktopButton, "copyDesktopButton", "copy.gif", nullptr,
         "デスクトップ全体をクリップボードにコピー"},
        {importClipboardButton, "importClipboardButton", "set.gif", nullptr,
         "クリップボードの画像を取り込む"},
        {browserButton, "browserButton", "browser.gif", "browser_down.gif",
         "ブラウザのページをキャプチャ"},
    };
    for (const auto &b : buttons) {
        b.button = new GraphicalButton(
            toolStrip, QStringLiteral(":/pictures/") + QLatin1String(b.picture),
            b.downPicture ? QStringLiteral(":/pictures/") + QLatin1String(b.downPicture)
                          : QString());
        place(b.button, b.name);
        b.button->setToolTip(QString::fromUtf8(b.toolTip));
        // A picture on a button says nothing to a screen reader: its tooltip does.
        b.button->setAccessibleName(QString::fromUtf8(b.toolTip));
    }

    captureWaitTitle = defs::label(toolStrip, QString::fromUtf8(defs::MainWindowCaptureWaitTitle));
    captureWaitTitle->setFont(defs::font(defs::MainWindowCaptureWaitTitleFontPt));
    captureWaitTitle->setWordWrap(false);
    place(captureWaitTitle, "captureWaitTitle");

    captureWaitLabel =
        defs::label(toolStrip, QString(), palette().color(QPalette::HighlightedText));
    captureWaitLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    captureWaitLabel->setLineWidth(1);
    place(captureWaitLabel, "captureWaitLabel");

    captureWaitBar = defs::scrollBar(toolStrip, defs::MainWindowCaptureWaitRange);
    place(captureWaitBar, "captureWaitBar");
    captureWaitBar->setAccessibleName(QString::fromUtf8(defs::MainWindowCaptureWaitTitle));
    pictureView->setAccessibleName(QStringLiteral("画像"));

    QWidget *previous = nullptr;
    for (const char *name : defs::MainWindowTabOrder) {
        auto *w = findChild<QWidget *>(QString::fromLatin1(name));
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    const std::pair<GraphicalButton *, void (MainWindow::*)()> clicks[] = {
        {openButton, &MainWindow::openClicked},
        {saveButton, &MainWindow::saveClicked},
        {copyDesktopButton, &MainWindow::copyDesktopClicked},
        {importClipboardButton, &MainWindow::importClipboardClicked},
        {browserButton, &MainWindow::browserCaptureClicked},
    };
    for (const auto &entry : clicks) {
        void (MainWindow::*handler)() = entry.second;
        connect(entry.first, &QPushButton::clicked, this,
                [this, handler] { rt::guard([this, handler] { (this->*handler)(); }); });
    }
    connect(captureWaitBar, &QScrollBar::valueChanged, this,
            [this] { rt::guard([this] { captureWaitChanged(); }); });
    connect(pictureView, &ImageBox::clicked, this,
            [this] { rt::guard([this] { pictureClicked(); }); });
}

// The document's changes, as this window shows them.
void MainWindow::showDocument()
{
    connect(&doc_, &PictureDocument::pictureChanged, this, [this] {
        pictureBox->setPicture(doc_.picture());
        pictureView->setPicture(doc_.shownPicture());
        describePicture();
    });
    connect(&doc_, &PictureDocument::fullSizeRequested, this, [this] {
        pictureView->setWidthTwips(pictureBox->Width());
        pictureView->setHeightTwips(pictureBox->Height());
    });
    connect(&doc_, &PictureDocument::fitRequested, this, [this] { fitToPicture(); });
    connect(&doc_, &PictureDocument::offlineModeChanged, this, [this] {
        setChecked(offlineItem, doc_.offlineMode == 1);
        setChecked(onlineItem, doc_.offlineMode == 0);
    });
}

// --- window properties ---------------------------------------------------------------------

float MainWindow::Height() const
{
    return rt::pixelsToTwips(frameGeometry().height());
}

void MainWindow::setHeight(float twips)
{
    const int frameExtra = frameGeometry().height() - height();
    resize(width(), rt::twipsToPixels(twips) - frameExtra);
    rt::checkpoint();
}

float MainWindow::ScaleWidth() const
{
    return rt::pixelsToTwips(width());
}

float MainWindow::ScaleHeight() const
{
    return rt::pixelsToTwips(height() - menuBarHeight(width()));
}

int MainWindow::menuBarHeight(int windowWidth) const
{
    // What the main window's layout gives the menu bar at that width.
    const int h = menuBar()->heightForWidth(windowWidth);
    return h > 0 ? h : menuBar()->sizeHint().height();
}

void MainWindow::showWindow()
{
    ::showWindow(this);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    rt::guard([this] { fitToPicture(); });
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimising and restoring resize a window on other systems; the layout expects to hear of it.
    if (event->type() == QEvent::WindowStateChange)
        rt::guard([this] { fitToPicture(); });
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // While the About box is open this window takes nothing, its closing included.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    rt::guard([this, event] {
        int16_t Cancel = 0;
        unloadWindow(Cancel);
        if (Cancel)
            event->ignore();
    });
}

// --- handlers ------------------------------------------------------------------------------

void MainWindow::loadWindow()
{
    // A second instance hands its file to the first, or else reports
    // itself; either way it ends, and the first is not touched otherwise.
    if (sys_.singleInstance->previousInstance()) {
        if (!startFile.isEmpty() && sys_.singleInstance->handOver(startFile))
            rt::End();
        platform::showMessage(*sys_.messageBox, QStringLiteral("既に起動されています"),
                              platform::MessageStyle::OkOnly, QStringLiteral("二重起動"));
        rt::End();
    }
    // Files of later starts come here, and this window to the front with them.
    sys_.singleInstance->acceptHandOvers([this](const QString &path) {
        openFromOutside(path);
        rt::guard([this] { ::showWindow(this); });
    });
    pictureView->setPicture(doc_.shownPicture());
    pictureView->setWidthTwips(pictureBox->Width());
    pictureView->setHeightTwips(pictureBox->Height());
    doc_.setJpegQuality(50);
    doc_.offlineMode = 1;
    captureWaitLabel->setText(QString::number(captureWaitBar->value()));
    doc_.CaptureWait = 1500;
    showCaptureWait();
    doc_.PicWidth = pictureBox->Width();
    doc_.PicHeight = rt::roundToInt32(pictureBox->Height());
    // Its load shows this window, whose first resize needs PicWidth and PicHeight.
    doc_.showInformationWindow();
    doc_.showFileName(QStringLiteral("NO FILE"));
}

void MainWindow::fitToPicture()
{
    // Minimised, the window has no inner area to fit anything into.
    if (isMinimized())
        return;
    const float PicWidth = doc_.PicWidth;
    const int32_t PicHeight = doc_.PicHeight;
    toolStrip->setWidthTwips(ScaleWidth());
    if (Height() >= 3000) {
        const float W = ScaleWidth();
        const float S = ScaleHeight();
        const float T = toolStrip->Height();
        // An empty inner area would divide by zero: keep the picture's size then.
        if (W > 0 && S - T > 0) {
            const float rW = float(rt::quotient(PicWidth, W));
            const double rH = rt::quotient(PicHeight, double(S - T));
            double w = rt::quotient(PicWidth, rW);
            double h = rt::quotient(PicHeight, rW);
            if (h <= S) {
                pictureView->setWidthTwips(float(w));
                pictureView->setHeightTwips(float(h));
            } else {
                w = rt::quotient(PicWidth, rH);
                h = rt::quotient(PicHeight, rH);
                pictureView->setWidthTwips(float(w));
                pictureView->setHeightTwips(float(h));
            }
        }
    }
    // Below 3000 the picture keeps its size; a window only somewhat short of
    // that grows to it, so the picture is fitted again.
    const float H = Height();
    if (H >= 1000 && H <= 3000)
        setHeight(3000);
}

void MainWindow::unloadWindow(int16_t &)
{
    others_.unloadInformationWindow();
    rt::End();
}

void MainWindow::captureWaitChanged()
{
    captureWaitLabel->setText(QString::number(captureWaitBar->value()));
    doc_.CaptureWait = rt::mul16(rt::cint16(captureWaitBar->value()), 10);
    showCaptureWait();
}

bool MainWindow::focusNextPrevChild(bool next)
{
    // The keyboard reaches the quality slider too: Tab goes on into the
    // information window past the last control, Shift+Tab before the first.
    QWidget *edge =
        next ? static_cast<QWidget *>(captureWaitBar) : static_cast<QWidget *>(openButton);
    if (focusWidget() == edge && others_.tabIntoInformationWindow) {
        others_.tabIntoInformationWindow(next);
        return true;
    }
    return QMainWindow::focusNextPrevChild(next);
}

void MainWindow::takeFocusByTab(bool forward)
{
    ::showWindow(this);
    (forward ? static_cast<QWidget *>(openButton) : static_cast<QWidget *>(captureWaitBar))
        ->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void MainWindow::describePicture()
{
    const QImage &picture = doc_.picture();
    const QString name = doc_.fileName.isEmpty() ? QString() : doc_.fileName + u'、';
    pictureView->setAccessibleDescription(picture.isNull() ? QStringLiteral("画像はありません")
                                                           : QStringLiteral("%1%2×%3 ピクセル")
                                                                 .arg(name)
                                                                 .arg(picture.width())
                                                                 .arg(picture.height()));
}

void MainWindow::showCaptureWait()
{
    // The bare number says nothing: the slider says what it sets.
    const double seconds =
        double(doc_.CaptureWait) * 4000 * double(platform::EventLoop::PassNanoseconds) / 1e9;
    captureWaitBar->setToolTip(
        QStringLiteral("待ち時間: %1 秒").arg(seconds, 0, 'f', seconds < 1 ? 2 : 1));
}

void MainWindow::pictureClicked()
{
    doc_.showInformationWindow();
    doc_.showFileName(doc_.fileName);
    fitToPicture();
}

void MainWindow::openClicked()
{
    openChosen();
}
void MainWindow::saveClicked()
{
    saveChosen();
}
void MainWindow::copyDesktopClicked()
{
    copyDesktopChosen();
}
void MainWindow::importClipboardClicked()
{
    importClipboardChosen();
}
void MainWindow::browserCaptureChosen()
{
    browserCaptureClicked();
}
void MainWindow::quitChosen()
{
    rt::End();
}

void MainWindow::openGivenFile(const QString &path)
{
    picture_files::openFile(doc_, fileDialog, *sys_.pictureLoader, path, sys_.messageBox);
}

void MainWindow::openFromOutside(const QString &path)
{
    pendingOpens_ << path;
    openPendingFiles();
}

void MainWindow::openPendingFiles()
{
    // While a modal box is up, the command behind it is not done with what it
    // read, nor is one waiting for a picture: the file waits until it is.
    if (QApplication::activeModalWidget() || platform::PaintingWait::underWay()) {
        if (!openRetryPlanned_) {
            openRetryPlanned_ = true;
            QTimer::singleShot(100, this, [this] {
                openRetryPlanned_ = false;
                openPendingFiles();
            });
        }
        return;
    }
    while (!pendingOpens_.isEmpty() && !rt::ended()) {
        const QString path = pendingOpens_.takeFirst();
        rt::guard([this, &path] { openGivenFile(path); });
    }
}

namespace
{
// The first local file a drop carries; none for text and other addresses.
QString droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return {};
    const QUrl first = data->urls().first();
    return first.isLocalFile() ? first.toLocalFile() : QString();
}
} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    openFromOutside(path);
}

void MainWindow::openChosen()
{
    picture_files::openPicture(doc_, fileDialog, *sys_.pictureLoader, sys_.messageBox);
}
void MainWindow::saveChosen()
{
    picture_files::saveJpeg(doc_, fileDialog,
                            {*sys_.pictureLoader, *sys_.jpegWriter, *sys_.trash, *sys_.messageBox});
}
void MainWindow::copyDesktopChosen()
{
    capture::copyDesktop(*sys_.screenGrabber, *sys_.clipboard, *sys_.eventLoop, *sys_.messageBox);
}
void MainWindow::importClipboardChosen()
{
    capture::importClipboard(doc_, *sys_.clipboard);
}
void MainWindow::browserCaptureClicked()
{
    capture::captureBrowserPage(doc_, fileDialog,
                                {*sys_.inputPrompt, *sys_.browserFactory, *sys_.eventLoop,
                                 *sys_.screenGrabber, *sys_.clipboard, *sys_.windowActivator,
                                 *sys_.messageBox});
}
void MainWindow::offlineChosen()
{
    capture::chooseOffline(doc_);
}
void MainWindow::onlineChosen()
{
    capture::chooseOnline(doc_);
}

void MainWindow::compareChosen()
{
    if (others_.showCompareWindow)
        others_.showCompareWindow();
}

void MainWindow::aboutChosen()
{
    others_.showAbout();
    // The box is modal: this window and the information window wait until it closes.
    setEnabled(false);
    others_.enableInformationWindow(false);
}
