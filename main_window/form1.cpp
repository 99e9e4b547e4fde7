#include "main_window/form1.h"

#include "capture/browser_capture.h"
#include "capture/clipboard_capture.h"
#include "document/picture_document.h"
#include "picture_files/open_picture.h"
#include "picture_files/save_jpeg.h"
#include "platform/runtime.h"
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
    return defs::control(defs::Form1Controls, name);
}
} // namespace

Form1::Form1(PictureDocument &doc, const platform::Services &sys, OtherWindows others)
    : CommonDialog1(sys.fileChooser), doc_(doc), sys_(sys), others_(std::move(others))
{
    setWindowTitle(QString::fromUtf8(defs::Form1.caption));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/program.ico")));
    buildMenus();
    buildControls();
    showDocument();
    keepLookWhenDisabled(this);
    setAcceptDrops(true);

    // The design places the client area (below the menu bar); Qt's geometry
    // of a top-level excludes the frame but includes the menu bar.
    const int clientW = rt::twipsToPixels(defs::Form1.clientWidth);
    const int menuH = menuBarHeight(clientW);
    setGeometry(rt::twipsToPixels(defs::Form1.clientLeft),
                rt::twipsToPixels(defs::Form1.clientTop) - menuH, clientW,
                rt::twipsToPixels(defs::Form1.clientHeight) + menuH);
}

Form1::~Form1() = default;

void Form1::buildMenus()
{
    QMenu *heading = nullptr;
    for (const defs::MenuDef &m : defs::Form1Menu) {
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
    for (const defs::ShortcutDef &keys : defs::Form1Shortcuts)
        item(keys.item)->setShortcut(QKeySequence(QString::fromLatin1(keys.keys)));

    const std::pair<QAction *, void (Form1::*)()> handlers[] = {
        {mnuopen, &Form1::mnuopen_Click},       {mnusave, &Form1::mnusave_Click},
        {mnuend, &Form1::mnuend_Click},         {mnucopy, &Form1::mnucopy_Click},
        {mnuclip, &Form1::mnuclip_Click},       {mnuie, &Form1::mnuie_Click},
        {mnuoff, &Form1::mnuoff_Click},         {mnuon, &Form1::mnuon_Click},
        {mnucompare, &Form1::mnucompare_Click}, {mnuver, &Form1::mnuver_Click},
    };
    for (const auto &entry : handlers) {
        QAction *action = entry.first;
        void (Form1::*handler)() = entry.second;
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

QList<QAction *> Form1::keyedItems() const
{
    QList<QAction *> items;
    for (const defs::ShortcutDef &keys : defs::Form1Shortcuts)
        items << menuBar()->findChild<QAction *>(QString::fromLatin1(keys.item));
    return items;
}

void Form1::setChecked(QAction *item, bool checked)
{
    // Unchecked items are not checkable, so no empty check box is drawn beside them.
    item->setCheckable(checked);
    item->setChecked(checked);
}

void Form1::buildControls()
{
    auto *client = new QWidget(this);
    client->setAutoFillBackground(true);
    QPalette p = client->palette();
    p.setColor(QPalette::Window, defs::color(defs::Form1.background));
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

    Label1 = defs::label(Picture2, QString::fromUtf8(defs::Form1Label1Caption));
    Label1->setFont(defs::font(defs::Form1Label1FontPt));
    Label1->setWordWrap(false);
    place(Label1, "Label1");

    Label2 = defs::label(Picture2, QString(), palette().color(QPalette::HighlightedText));
    Label2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label2->setLineWidth(1);
    place(Label2, "Label2");

    HScroll1 = defs::scrollBar(Picture2, defs::Form1HScroll1);
    place(HScroll1, "HScroll1");
    HScroll1->setAccessibleName(QString::fromUtf8(defs::Form1Label1Caption));
    Image1->setAccessibleName(QStringLiteral("画像"));

    QWidget *previous = nullptr;
    for (const char *name : defs::Form1TabOrder) {
        auto *w = findChild<QWidget *>(QString::fromLatin1(name));
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    const std::pair<GraphicalButton *, void (Form1::*)()> clicks[] = {
        {Command1, &Form1::Command1_Click}, {Command2, &Form1::Command2_Click},
        {Command3, &Form1::Command3_Click}, {Command4, &Form1::Command4_Click},
        {Command5, &Form1::Command5_Click},
    };
    for (const auto &entry : clicks) {
        void (Form1::*handler)() = entry.second;
        connect(entry.first, &QPushButton::clicked, this,
                [this, handler] { rt::guard([this, handler] { (this->*handler)(); }); });
    }
    connect(HScroll1, &QScrollBar::valueChanged, this,
            [this] { rt::guard([this] { HScroll1_Change(); }); });
    connect(Image1, &ImageBox::clicked, this, [this] { rt::guard([this] { Image1_Click(); }); });
}

// The document's changes, as this window shows them.
void Form1::showDocument()
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

float Form1::Height() const
{
    return rt::pixelsToTwips(frameGeometry().height());
}

void Form1::setHeight(float twips)
{
    const int frameExtra = frameGeometry().height() - height();
    resize(width(), rt::twipsToPixels(twips) - frameExtra);
    rt::checkpoint();
}

float Form1::ScaleWidth() const
{
    return rt::pixelsToTwips(width());
}

float Form1::ScaleHeight() const
{
    return rt::pixelsToTwips(height() - menuBarHeight(width()));
}

int Form1::menuBarHeight(int windowWidth) const
{
    // What the main window's layout gives the menu bar at that width.
    const int h = menuBar()->heightForWidth(windowWidth);
    return h > 0 ? h : menuBar()->sizeHint().height();
}

void Form1::Show()
{
    showWindow(this);
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    rt::guard([this] { Form_Resize(); });
}

void Form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimising and restoring resize a window on other systems; the layout expects to hear of it.
    if (event->type() == QEvent::WindowStateChange)
        rt::guard([this] { Form_Resize(); });
}

void Form1::closeEvent(QCloseEvent *event)
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

void Form1::Form_Load()
{
    // 1.-2. A second instance hands its file to the first, or else reports
    // itself; either way it ends, and the first is not touched otherwise.
    if (sys_.singleInstance->previousInstance()) {
        if (!StartFile.isEmpty() && sys_.singleInstance->handOver(StartFile))
            rt::End();
        platform::MsgBox(*sys_.messageBox, QStringLiteral("既に起動されています"),
                         platform::vbOKOnly, QStringLiteral("二重起動"));
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

void Form1::Form_Resize()
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

void Form1::Form_Unload(int16_t &)
{
    others_.unloadInformationWindow();
    rt::End();
}

void Form1::HScroll1_Change()
{
    Label2->setText(QString::number(HScroll1->value()));
    doc_.CaptureWait = rt::mul16(rt::cint16(HScroll1->value()), 10);
    showCaptureWait();
}

bool Form1::focusNextPrevChild(bool next)
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

void Form1::takeFocusByTab(bool forward)
{
    showWindow(this);
    (forward ? static_cast<QWidget *>(Command1) : static_cast<QWidget *>(HScroll1))
        ->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void Form1::describePicture()
{
    const QImage &picture = doc_.picture();
    const QString name = doc_.FileName.isEmpty() ? QString() : doc_.FileName + u'、';
    Image1->setAccessibleDescription(picture.isNull() ? QStringLiteral("画像はありません")
                                                      : QStringLiteral("%1%2×%3 ピクセル")
                                                            .arg(name)
                                                            .arg(picture.width())
                                                            .arg(picture.height()));
}

void Form1::showCaptureWait()
{
    // The bare number says nothing: the slider says what it sets.
    const double seconds =
        double(doc_.CaptureWait) * 4000 * double(platform::EventLoop::PassNanoseconds) / 1e9;
    HScroll1->setToolTip(
        QStringLiteral("待ち時間: %1 秒").arg(seconds, 0, 'f', seconds < 1 ? 2 : 1));
}

void Form1::Image1_Click()
{
    doc_.showInformationWindow();
    doc_.showFileName(doc_.FileName);
    Form_Resize();
}

void Form1::Command1_Click()
{
    mnuopen_Click();
}
void Form1::Command2_Click()
{
    mnusave_Click();
}
void Form1::Command3_Click()
{
    mnucopy_Click();
}
void Form1::Command4_Click()
{
    mnuclip_Click();
}
void Form1::mnuie_Click()
{
    Command5_Click();
}
void Form1::mnuend_Click()
{
    rt::End();
}

void Form1::openGivenFile(const QString &path)
{
    picture_files::openFile(doc_, CommonDialog1, *sys_.pictureLoader, path, sys_.messageBox);
}

void Form1::openFromOutside(const QString &path)
{
    pendingOpens_ << path;
    openPendingFiles();
}

void Form1::openPendingFiles()
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

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    openFromOutside(path);
}

void Form1::mnuopen_Click()
{
    picture_files::openPicture(doc_, CommonDialog1, *sys_.pictureLoader, sys_.messageBox);
}
void Form1::mnusave_Click()
{
    picture_files::saveJpeg(doc_, CommonDialog1,
                            {*sys_.pictureLoader, *sys_.jpegWriter, *sys_.trash, *sys_.messageBox});
}
void Form1::mnucopy_Click()
{
    capture::copyDesktop(*sys_.screenGrabber, *sys_.clipboard, *sys_.eventLoop, *sys_.messageBox);
}
void Form1::mnuclip_Click()
{
    capture::importClipboard(doc_, *sys_.clipboard);
}
void Form1::Command5_Click()
{
    capture::captureBrowserPage(doc_, CommonDialog1,
                                {*sys_.inputPrompt, *sys_.browserFactory, *sys_.eventLoop,
                                 *sys_.screenGrabber, *sys_.clipboard, *sys_.windowActivator,
                                 *sys_.messageBox});
}
void Form1::mnuoff_Click()
{
    capture::chooseOffline(doc_);
}
void Form1::mnuon_Click()
{
    capture::chooseOnline(doc_);
}

void Form1::mnucompare_Click()
{
    if (others_.showCompareWindow)
        others_.showCompareWindow();
}

void Form1::mnuver_Click()
{
    // 1.
    others_.showAbout();
    // 2.
    setEnabled(false);
    // 3.
    others_.enableInformationWindow(false);
}
