#include "platform/qt/wait_note.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace platform
{

namespace
{
class NoteWindow : public QFrame
{
public:
    explicit NoteWindow(const std::function<void()> &cancel)
        : QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint)
    {
        setObjectName(QStringLiteral("waitNote"));
        setWindowTitle(applicationTitle());
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
        setAutoFillBackground(true);
        // It sits over the main window: the browser that was just raised, or
        // the desktop's question, keeps the focus.
        setAttribute(Qt::WA_ShowWithoutActivating);
        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(14, 12, 14, 12);
        text = new QLabel(this);
        text->setWordWrap(false);
        column->addWidget(text);
        auto *busy = new QProgressBar(this);
        busy->setRange(0, 0);
        busy->setTextVisible(false);
        busy->setFixedHeight(8);
        busy->setAccessibleName(QStringLiteral("待っています"));
        column->addWidget(busy);
        auto *row = new QHBoxLayout;
        row->addStretch();
        button = new QPushButton(QStringLiteral("キャンセル"), this);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, cancel);
        row->addWidget(button);
        column->addLayout(row);
    }

    QLabel *text = nullptr;
    QPushButton *button = nullptr;
};

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// The notes that are up, innermost last, and the one window that shows them.
class Notes : public QObject
{
public:
    static Notes &get()
    {
        static Notes *notes = new Notes; // outlives every window; never torn down
        return *notes;
    }

    void push(const QString &what, bool keepOut)
    {
        if (texts_.isEmpty()) {
            cancelled_ = false;
            hiddenForDesktop_ = false;
            showTimer_.start(QtWaitNote::ShowAfterMs);
        }
        texts_ << what;
        keepOuts_ << keepOut;
        if (keepOut && QGuiApplication::applicationState() != Qt::ApplicationActive)
            hiddenForDesktop_ = true;
        update();
    }
    void pop()
    {
        texts_.removeLast();
        keepOuts_.removeLast();
        if (texts_.isEmpty()) {
            showTimer_.stop();
            if (window_)
                window_->hide();
            hiddenForDesktop_ = false;
            return;
        }
        if (!keepOuts_.contains(true))
            hiddenForDesktop_ = false;
        update();
    }
    bool up() const { return !texts_.isEmpty(); }
    bool cancelled() const { return cancelled_; }
    QWidget *window() const { return window_ && window_->isVisible() ? window_ : nullptr; }

    void cancel()
    {
        if (texts_.isEmpty() || cancelled_)
            return;
        cancelled_ = true;
        for (const QPointer<QEventLoop> &loop : loops_)
            if (loop)
                loop->quit();
    }
    void entered(QEventLoop *loop) { loops_ << loop; }
    void left(QEventLoop *loop) { loops_.removeAll(loop); }
    int inputSeen() const { return inputSeen_; }
    void awaitingUser(QEventLoop *loop, bool on)
    {
        if (on)
            userLoops_ << loop;
        else
            userLoops_.removeAll(loop);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (texts_.isEmpty())
            return false;
        const QEvent::Type type = event->type();
        // Input that reaches the program's windows at all: the desktop's own
        // modal dialog, while it is up, lets none through.
        if (event->spontaneous() && watched->isWindowType() &&
            (type == QEvent::MouseMove || type == QEvent::MouseButtonPress ||
             type == QEvent::KeyPress || type == QEvent::Wheel || type == QEvent::Enter)) {
            ++inputSeen_;
            for (const QPointer<QEventLoop> &loop : userLoops_)
                if (loop)
                    loop->quit();
        }
        if (type == QEvent::Close && event->spontaneous() && !ours(watched))
            return true; // a window closed while its command waits: after the wait
        if (!isInput(type) || ours(watched))
            return false;
        // Escape on any of the program's windows is the note's cancel.
        if (type == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape &&
            watched->isWidgetType())
            cancel();
        return true;
    }

private:
    Notes()
    {
        showTimer_.setSingleShot(true);
        connect(&showTimer_, &QTimer::timeout, this, [this] { update(); });
        if (qApp) {
            qApp->installEventFilter(this);
            connect(qApp, &QGuiApplication::applicationStateChanged, this,
                    [this](Qt::ApplicationState state) {
                        if (state != Qt::ApplicationActive && keepOuts_.contains(true))
                            hiddenForDesktop_ = true;
                        update();
                    });
        }
    }

    // The note's own window and what is in it.
    bool ours(QObject *watched) const
    {
        if (!window_)
            return false;
        if (auto *w = qobject_cast<QWidget *>(watched))
            return w == window_ || window_->isAncestorOf(w);
        if (auto *w = qobject_cast<QWindow *>(watched))
            return w == window_->windowHandle();
        return false;
    }

    // The main window: the one its caption names the program in.
    static QWidget *mainWindow()
    {
        const QString title = applicationTitle();
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->objectName() != QStringLiteral("waitNote") &&
                w->windowTitle().startsWith(title) && !(w->windowFlags() & Qt::Tool))
                return w;
        return QApplication::activeWindow();
    }

    void update()
    {
        if (texts_.isEmpty())
            return;
        const bool show = !hiddenForDesktop_ && !showTimer_.isActive();
        if (!show) {
            if (window_)
                window_->hide();
            return;
        }
        if (!window_)
            window_ = new NoteWindow([this] { cancel(); });
        window_->text->setText(texts_.last());
        window_->adjustSize();
        if (!window_->isVisible()) {
            if (QWidget *main = mainWindow()) {
                window_->winId();
                main->winId();
                window_->windowHandle()->setTransientParent(main->windowHandle());
                const QRect over = main->frameGeometry();
                window_->move(over.center() - QPoint(window_->width() / 2, window_->height() / 2));
            }
            window_->show();
        }
    }

    QStringList texts_;
    QList<bool> keepOuts_;
    bool cancelled_ = false;
    bool hiddenForDesktop_ = false;
    QPointer<NoteWindow> window_;
    QTimer showTimer_;
    QList<QPointer<QEventLoop>> loops_, userLoops_;
    int inputSeen_ = 0;
};
} // namespace

QtWaitNote::QtWaitNote(const QString &what, Screenshots screenshots)
{
    Notes::get().push(what, screenshots == Screenshots::KeepOut);
}

QtWaitNote::~QtWaitNote()
{
    Notes::get().pop();
}

bool QtWaitNote::cancelled() const
{
    return Notes::get().cancelled();
}

bool QtWaitNote::up()
{
    return Notes::get().up();
}

QWidget *QtWaitNote::window()
{
    return Notes::get().window();
}

QtWaitNote::End QtWaitNote::waitUntil(QEventLoop &loop, int boundMs,
                                      const std::function<bool()> &done, int pollMs)
{
    Notes &notes = Notes::get();
    QElapsedTimer clock;
    clock.start();
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    if (pollMs > 0)
        poll.start(pollMs);
    notes.entered(&loop);
    while (!done() && !notes.cancelled()) {
        const qint64 left = boundMs - clock.elapsed();
        if (left <= 0)
            break;
        bound.start(int(left));
        // Input is not held back: the note's filter drops what is not its own.
        loop.exec();
    }
    notes.left(&loop);
    if (done())
        return End::Done;
    return notes.cancelled() ? End::Cancelled : End::TimedOut;
}

bool QtWaitNote::sleep(int milliseconds, const std::function<bool()> &stopEarly)
{
    QEventLoop loop;
    const std::function<bool()> never = [] { return false; };
    return waitUntil(loop, milliseconds, stopEarly ? stopEarly : never, stopEarly ? 100 : 0) !=
           End::Cancelled;
}

void QtWaitNote::untilUserIsBack(QEventLoop &loop, int boundMs, const std::function<bool()> &done)
{
    Notes &notes = Notes::get();
    const int before = notes.inputSeen();
    const bool wasActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    bool activated = false;
    const QMetaObject::Connection c = QObject::connect(
        qApp, &QGuiApplication::applicationStateChanged, &loop, [&](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive && !wasActive) {
                activated = true;
                loop.quit();
            }
        });
    notes.awaitingUser(&loop, true);
    waitUntil(loop, boundMs, [&] { return activated || notes.inputSeen() > before || done(); });
    notes.awaitingUser(&loop, false);
    QObject::disconnect(c);
}

} // namespace platform
