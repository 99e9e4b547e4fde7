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
    : CommonDialog1(sys.fileChooser), doc_(doc), sys_(sys), others_(std::move(others))
{
    setWindowTitle(QString::fromUtf8(defs::MainWindow.caption));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/program.ico")));
    buildMenus();
    buildControls();
    showDocument();
    keepLookWhenDisabled(this);
    setAcceptDrops(true);

    // The design places the client area (below the menu bar); Qt's geometry
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
    mnufile = menuBar()->findChild<QMenu *>(QStringLiteral("mnufile"));
    mnuedit = menuBar()->findChild<QMenu *>(QStringLiteral("mnuedit"));
    mnuwin = menuBar()->findChild<QMenu *>(QStringLiteral("mnuwin"));
    auto item = [this](const char *name) {
        return menuBar()->findChild<QAction *>(QString::fromLatin1(name));
    };
    mnuopen = item("mnuopen");
    mnusave = item("mnusave");
    mnuend = item("mnuend");
    mnucopy = item("mnucopy");
    mnuclip = item("mnuclip");
    mnuie = item("mnuie");
    mnuborder = item("mnuborder");
    mnuoff = item("mnuoff");
    mnuon = item("mnuon");
    mnucompare = item("mnucompare");
    mnuver = item("mnuver");
    for (const defs::ShortcutDef &keys : defs::MainWindowShortcuts)
        item(keys.item)->setShortcut(QKeySequence(QString::fromLatin1(keys.keys)));

    const std::pair<QAction *, void (MainWindow::*)()> handlers[] = {
        {mnuopen, &MainWindow::mnuopen_Click},       {mnusave, &MainWindow::mnusave_Click},
        {mnuend, &MainWindow::mnuend_Click},         {mnucopy, &MainWindow::mnucopy_Click},
        {mnuclip, &MainWindow::mnuclip_Click},       {mnuie, &MainWindow::mnuie_Click},
        {mnuoff, &MainWindow::mnuoff_Click},         {mnuon, &MainWindow::mnuon_Click},
        {mnucompare, &MainWindow::mnucompare_Click}, {mnuver, &MainWindow::mnuver_Click},
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
        defs::place(control, d, *d.container ? Picture2->innerOrigin() : QPoint());
    };

    // The windowless image lies under every windowed control.
    Image1 = new ImageBox(client);
    place(Image1, "Image1");
    // Named formats: an unnamed one makes Qt try every image plug-in on the file.
    QBitmap hand(QStringLiteral(":/pictures/hand.xbm"), "XBM");
    QBitmap handMask(QStringLiteral(":/pictures/hand_mask.xbm"), "XBM");
    Image1->setCursor(QCursor(hand, handMask, 6, 0));

    Picture1 = new PictureBox(client, true);
    place(Picture1, "Picture1");
    Picture1->hide();
    // The picture box's background shows through transparent parts of its picture.
    doc_.setPictureBackground(Picture1->palette().color(QPalette::Window));
    doc_.setPicture(QImage(QStringLiteral(":/pictures/logo.gif")));
    Picture1->setPicture(doc_.picture());

    Picture2 = new PictureBox(client);
    place(Picture2, "Picture2");
    // A frame that does nothing takes no focus: the keyboard starts at the buttons.
    Picture2->setFocusPolicy(Qt::NoFocus);

    const struct {
        GraphicalButton *&button;
        const char *name;
        const char *picture;
        const char *downPicture;
        const char *toolTip; // what a new user reads when pointing at it
    } buttons[] = {
        {Command1, "Command1", "open.gif", nullptr, "画像ファイルを開く"},
        {Command2, "Command2", "save.gif", nullptr, "JPEGで保存"},
        {Command3, "Command3", "copy.gif", nullptr, "デスクトップ全体をクリップボードにコピー"},
        {Command4, "Command4", "set.gif", nullptr, "クリップボードの画像を取り込む"},
        {Command5, "Command5", "browser.gif", "browser_down.gif", "ブラウザのページをキャプチャ"},
    };
    for (const auto &b : buttons) {
        b.button = new GraphicalButton(
            Picture2, QStringLiteral(":/pictures/") + QLatin1String(b.picture),
            b.downPicture ? QStringLiteral(":/pictures/") + QLatin1String(b.downPicture)
                          : QString());
        place(b.button, b.name);
        b.button->setToolTip(QString::fromUtf8(b.toolTip));
        // A picture on a button says nothing to a screen reader: its tooltip does.
        b.button->setAccessibleName(QString::fromUtf8(b.toolTip));
    }

    Label1 = defs::label(Picture2, QString::fromUtf8(defs::MainWindowLabel1Caption));
    Label1->setFont(defs::font(defs::MainWindowLabel1FontPt));
    Label1->setWordWrap(false);
    place(Label1, "Label1");

    Label2 = defs::label(Picture2, QString(), palette().color(QPalette::HighlightedText));
    Label2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label2->setLineWidth(1);
    place(Label2, "Label2");

    HScroll1 = defs::scrollBar(Picture2, defs::MainWindowHScroll1);
    place(HScroll1, "HScroll1");
    HScroll1->setAccessibleName(QString::fromUtf8(defs::MainWindowLabel1Caption));
    Image1->setAccessibleName(QStringLiteral("画像"));

    QWidget *previous = nullptr;
    for (const char *name : defs::MainWindowTabOrder) {
        auto *w = findChild<QWidget *>(QString::fromLatin1(name));
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    const std::pair<GraphicalButton *, void (MainWindow::*)()> clicks[] = {
        {Command1, &MainWindow::Command1_Click}, {Command2, &MainWindow::Command2_Click},
        {Command3, &MainWindow::Command3_Click}, {Command4, &MainWindow::Command4_Click},
        {Command5, &MainWindow::Command5_Click},
    };
    for (const auto &entry : clicks) {
        void (MainWindow::*handler)() = entry.second;
        connect(entry.first, &QPushButton::clicked, this,
                [this, handler] { rt::guard([this, handler] { (this->*handler)(); }); });
    }
    connect(HScroll1, &QScrollBar::valueChanged, this,
            [this] { rt::guard([this] { HScroll1_Change(); }); });
    connect(Image1, &ImageBox::clicked, this, [this] { rt::guard([this] { Image1_Click(); }); });
}

// The document's changes, as this window shows them.
void MainWindow::showDocument()
{
    connect(&doc_, &PictureDocument::pictureChanged, this, [this] {
        Picture1->setPicture(doc_.picture());
        Image1->setPicture(doc_.shownPicture());
        describePicture();
    });
    connect(&doc_, &PictureDocument::fullSizeRequested, this, [this] {
        Image1->setWidthTwips(Picture1->Width());
        Image1->setHeightTwips(Picture1->Height());
    });
    connect(&doc_, &PictureDocument::fitRequested, this, [this] { Form_Resize(); });
    connect(&doc_, &PictureDocument::ieModeChanged, this, [this] {
        setChecked(mnuoff, doc_.IEMode == 1);
        setChecked(mnuon, doc_.IEMode == 0);
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

void MainWindow::Show()
{
    showWindow(this);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    rt::guard([this] { Form_Resize(); });
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimising and restoring resize a window on other systems; the layout expects to hear of it.
    if (event->type() == QEvent::WindowStateChange)
        rt::guard([this] { Form_Resize(); });
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
        Form_Unload(Cancel);
        if (Cancel)
            event->ignore();
    });
}

// --- handlers ------------------------------------------------------------------------------

void MainWindow::Form_Load()
{
    // 1.-2. A second instance hands its file to the first, or else reports
    // itself; either way it ends, and the first is not touched otherwise.
    if (sys_.singleInstance->previousInstance()) {
        if (!StartFile.isEmpty() && sys_.singleInstance->handOver(StartFile))
            rt::End();
        platform::showMessage(*sys_.messageBox, QStringLiteral("既に起動されています"),
                              platform::MessageStyle::OkOnly, QStringLiteral("二重起動"));
        rt::End();
    }
    // Files of later starts come here, and this window to the front with them.
    sys_.singleInstance->acceptHandOvers([this](const QString &path) {
        openFromOutside(path);
        rt::guard([this] { showWindow(this); });
    });
    // 3.-5.
    Image1->setPicture(doc_.shownPicture());
    Image1->setWidthTwips(Picture1->Width());
    Image1->setHeightTwips(Picture1->Height());
    // 6.-11.
    doc_.setJpegQuality(50);
    doc_.IEMode = 1;
    Label2->setText(QString::number(HScroll1->value()));
    doc_.CaptureWait = 1500;
    showCaptureWait();
    doc_.PicWidth = Picture1->Width();
    doc_.PicHeight = rt::roundToInt32(Picture1->Height());
    // 12. Its load shows this window, whose first resize needs PicWidth and PicHeight.
    doc_.showInformationWindow();
    // 13.
    doc_.showFileName(QStringLiteral("NO FILE"));
}

void MainWindow::Form_Resize()
{
    // Minimised, the window has no inner area to fit anything into.
    if (isMinimized())
        return;
    const float PicWidth = doc_.PicWidth;
    const int32_t PicHeight = doc_.PicHeight;
    // 1.
    Picture2->setWidthTwips(ScaleWidth());
    // 2.
    if (Height() >= 3000) {
        const float W = ScaleWidth();
        const float S = ScaleHeight();
        const float T = Picture2->Height();
        // An empty inner area would divide by zero: keep the picture's size then.
        if (W > 0 && S - T > 0) {
            const float rW = float(rt::quotient(PicWidth, W));
            const double rH = rt::quotient(PicHeight, double(S - T));
            double w = rt::quotient(PicWidth, rW);
            double h = rt::quotient(PicHeight, rW);
            if (h <= S) {
                Image1->setWidthTwips(float(w));
                Image1->setHeightTwips(float(h));
            } else {
                w = rt::quotient(PicWidth, rH);
                h = rt::quotient(PicHeight, rH);
                Image1->setWidthTwips(float(w));
                Image1->setHeightTwips(float(h));
            }
        }
    }
    // 3. Below 3000 the picture keeps its size.
    // 4.
    const float H = Height();
    if (H >= 1000 && H <= 3000)
        setHeight(3000);
}

void MainWindow::Form_Unload(int16_t &)
{
    others_.unloadInformationWindow();
    rt::End();
}

void MainWindow::HScroll1_Change()
{
    Label2->setText(QString::number(HScroll1->value()));
    doc_.CaptureWait = rt::mul16(rt::cint16(HScroll1->value()), 10);
    showCaptureWait();
}

bool MainWindow::focusNextPrevChild(bool next)
{
    // The keyboard reaches the quality slider too: Tab goes on into the
    // information window past the last control, Shift+Tab before the first.
    QWidget *edge = next ? static_cast<QWidget *>(HScroll1) : static_cast<QWidget *>(Command1);
    if (focusWidget() == edge && others_.tabIntoInformationWindow) {
        others_.tabIntoInformationWindow(next);
        return true;
    }
    return QMainWindow::focusNextPrevChild(next);
}

void MainWindow::takeFocusByTab(bool forward)
{
    showWindow(this);
    (forward ? static_cast<QWidget *>(Command1) : static_cast<QWidget *>(HScroll1))
        ->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void MainWindow::describePicture()
{
    const QImage &picture = doc_.picture();
    const QString name = doc_.FileName.isEmpty() ? QString() : doc_.FileName + u'、';
    Image1->setAccessibleDescription(picture.isNull() ? QStringLiteral("画像はありません")
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
    HScroll1->setToolTip(
        QStringLiteral("待ち時間: %1 秒").arg(seconds, 0, 'f', seconds < 1 ? 2 : 1));
}

void MainWindow::Image1_Click()
{
    doc_.showInformationWindow();
    doc_.showFileName(doc_.FileName);
    Form_Resize();
}

void MainWindow::Command1_Click()
{
    mnuopen_Click();
}
void MainWindow::Command2_Click()
{
    mnusave_Click();
}
void MainWindow::Command3_Click()
{
    mnucopy_Click();
}
void MainWindow::Command4_Click()
{
    mnuclip_Click();
}
void MainWindow::mnuie_Click()
{
    Command5_Click();
}
void MainWindow::mnuend_Click()
{
    rt::End();
}

void MainWindow::openGivenFile(const QString &path)
{
    picture_files::openFile(doc_, CommonDialog1, *sys_.pictureLoader, path, sys_.messageBox);
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

void MainWindow::mnuopen_Click()
{
    picture_files::openPicture(doc_, CommonDialog1, *sys_.pictureLoader, sys_.messageBox);
}
void MainWindow::mnusave_Click()
{
    picture_files::saveJpeg(doc_, CommonDialog1,
                            {*sys_.pictureLoader, *sys_.jpegWriter, *sys_.trash, *sys_.messageBox});
}
void MainWindow::mnucopy_Click()
{
    capture::copyDesktop(*sys_.screenGrabber, *sys_.clipboard, *sys_.eventLoop, *sys_.messageBox);
}
void MainWindow::mnuclip_Click()
{
    capture::importClipboard(doc_, *sys_.clipboard);
}
void MainWindow::Command5_Click()
{
    capture::captureBrowserPage(doc_, CommonDialog1,
                                {*sys_.inputPrompt, *sys_.browserFactory, *sys_.eventLoop,
                                 *sys_.screenGrabber, *sys_.clipboard, *sys_.windowActivator,
                                 *sys_.messageBox});
}
void MainWindow::mnuoff_Click()
{
    capture::chooseOffline(doc_);
}
void MainWindow::mnuon_Click()
{
    capture::chooseOnline(doc_);
}

void MainWindow::mnucompare_Click()
{
    if (others_.showCompareWindow)
        others_.showCompareWindow();
}

void MainWindow::mnuver_Click()
{
    // 1.
    others_.showAbout();
    // 2.
    setEnabled(false);
    // 3.
    others_.enableInformationWindow(false);
}
