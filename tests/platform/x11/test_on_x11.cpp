// The windows on a real X server with openbox: the real shape, drag and task
// bar code, window-manager frames, pointer events from the X server itself.
#include "about/about_box.h"
#include "compare_window/compare_window.h"
#include "harness.h"
#include "platform/x11/window_activator.h"
#include "platform/x11/window_shape.h"
#include "platform/x11/x11.h"

#include <QCursor>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QScrollBar>
#include <QWindow>

namespace
{
// Real input through the X server (XTEST), as a user's hand would give it.
void xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    QVERIFY2(p.waitForFinished(10000) && p.exitCode() == 0, qPrintable(args.join(' ')));
}

QString property(QWidget *w, const char *name)
{
    QProcess p;
    p.start(QStringLiteral("xprop"),
            {QStringLiteral("-id"), QString::number(w->winId()), QString::fromLatin1(name)});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString windowState(QWidget *w)
{
    return property(w, "_NET_WM_STATE");
}

// The window a window is transient for, as the window manager reads it.
quint64 transientFor(QWidget *w)
{
    const QString said = property(w, "WM_TRANSIENT_FOR");
    const qsizetype at = said.indexOf(QStringLiteral("0x"));
    return at < 0 ? 0 : said.mid(at + 2).trimmed().toULongLong(nullptr, 16);
}

class ClickRecorder : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

struct RealShapeHarness : Harness {
    platform::X11WindowShape shape;
    RealShapeHarness()
    {
        services.windowShape = &shape;
        program = std::make_unique<Program>(services);
    }
};

// The pointer events the program has been given, whatever window they went to.
struct PointerEventsSeen : QObject {
    int moves = 0, releases = 0, presses = 0;
    PointerEventsSeen() { qApp->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Counted where they arrive, once per event.
        if (watched->isWindowType()) {
            moves += event->type() == QEvent::MouseMove;
            releases += event->type() == QEvent::MouseButtonRelease;
            presses += event->type() == QEvent::MouseButtonPress;
        }
        return false;
    }
};

// Moves the pointer and waits until the X server has it there.
void movePointer(QPoint to)
{
    xdotool({"mousemove", QString::number(to.x()), QString::number(to.y())});
    QTRY_COMPARE(QCursor::pos(), to);
}

// Presses, moves and releases in steps the program sees one by one: each
// waits until the program has been given the one before.
void drag(QPoint from, QPoint by, const char *button = "1")
{
    PointerEventsSeen seen;
    movePointer(from);
    xdotool({"mousedown", button});
    QTRY_COMPARE(seen.presses, 1);
    for (int i = 1; i <= 4; ++i) {
        const int moves = seen.moves;
        movePointer(from + by * i / 4);
        QTRY_VERIFY(seen.moves > moves);
    }
    xdotool({"mouseup", button});
    QTRY_COMPARE(seen.releases, 1);
}

// The top-level window the X server finds under the pointer, the windows'
// input shapes and stacking taken into account.
xcb_window_t topLevelUnderPointer()
{
    xcb_connection_t *c = platform::x11::connection();
    const platform::x11::Reply<xcb_query_pointer_reply_t> r(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, platform::x11::root(c)), nullptr));
    return r ? r->child : xcb_window_t(XCB_NONE);
}

xcb_window_t topLevel(QWidget *w)
{
    return platform::x11::topLevelOf(platform::x11::connection(), xcb_window_t(w->winId()));
}

// Where the X server has a window's top-left corner on the screen, which the
// window manager may have placed elsewhere than the program asked.
QPoint placedAt(QWidget *w)
{
    const auto placement = platform::x11::placementOf(platform::x11::connection(), topLevel(w));
    return placement ? placement->client.topLeft() : QPoint(-1, -1);
}

// Whether the X server stacks one top-level window above another.
bool stackedAbove(QWidget *upper, QWidget *lower)
{
    const QList<xcb_window_t> order = platform::x11::viewableTopLevelsInOrder();
    return order.indexOf(topLevel(upper)) > order.indexOf(topLevel(lower));
}
} // namespace

class TestOnX11 : public QObject
{
    Q_OBJECT
private slots:
    void theEllipseLetsClicksThrough()
    {
        RealShapeHarness h;
        h.start();
        InformationWindow &f = h.f2();
        QTRY_VERIFY(!f.mask().isEmpty());
        QVERIFY(f.mask().contains(QPoint(131, 56)));
        QVERIFY(!f.mask().contains(QPoint(2, 2)));
        QVERIFY(!f.mask().contains(QPoint(259, 110)));

        // A window right below the information window's corner. The points
        // are taken from where the X server has the window: on a busy start
        // the program may not have heard yet where the window manager put it.
        const QPoint at = placedAt(&f);
        ClickRecorder below;
        below.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        below.setGeometry(QRect(at, QSize(40, 40)));
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below, 30000));
        QTRY_COMPARE(placedAt(&below), at);
        f.raise();
        QTRY_VERIFY(stackedAbove(&f, &below));

        // Clicked once the X server has the window below under the pointer
        // there: placed, stacked and shaped as it will be.
        QCOMPARE(placedAt(&f), at);
        const QPoint corner = at + QPoint(3, 3);
        movePointer(corner);
        QTRY_COMPARE_WITH_TIMEOUT(topLevelUnderPointer(), topLevel(&below), 15000);
        xdotool({"click", "1"});
        QTRY_COMPARE(below.presses, 1);

        // Inside the ellipse the window itself takes the click.
        const QPoint inside = at + QPoint(30, 56);
        below.setGeometry(QRect(inside - QPoint(5, 5), QSize(10, 10)));
        QTRY_COMPARE(placedAt(&below), inside - QPoint(5, 5));
        f.raise();
        QTRY_VERIFY(stackedAbove(&f, &below));
        movePointer(inside);
        QTRY_COMPARE_WITH_TIMEOUT(topLevelUnderPointer(), topLevel(&f), 15000);
        PointerEventsSeen seen;
        xdotool({"click", "1"});
        QTRY_COMPARE(seen.releases, 1);
        QCOMPARE(below.presses, 1);
    }

    void leftDragOnTheBackgroundMovesTheWindow()
    {
        RealShapeHarness h;
        h.start();
        InformationWindow &f = h.f2();
        QVERIFY(QTest::qWaitForWindowExposed(&f, 30000));
        const QPoint start = f.frameGeometry().topLeft();
        drag(start + QPoint(20, 56), QPoint(-80, 60));
        QTRY_COMPARE(f.frameGeometry().topLeft(), start + QPoint(-80, 60));

        // After the release the window no longer follows the pointer.
        const QPoint rest = f.frameGeometry().topLeft();
        PointerEventsSeen seen;
        movePointer(QCursor::pos() + QPoint(30, 30));
        QTRY_VERIFY(seen.moves > 0);
        QCOMPARE(f.frameGeometry().topLeft(), rest);

        // The right button, and presses on a label or on the slider, move nothing.
        drag(rest + QPoint(20, 56), QPoint(50, 50), "3");
        QCOMPARE(f.frameGeometry().topLeft(), rest);
        drag(rest + f.fileNameLabel->geometry().center(), QPoint(50, 50));
        QCOMPARE(f.frameGeometry().topLeft(), rest);
        drag(rest + f.resolutionTitle->geometry().center(), QPoint(50, 50));
        QCOMPARE(f.frameGeometry().topLeft(), rest);
        QVERIFY(!rt::ended());
    }

    void informationWindowHasNoTaskbarEntry()
    {
        RealShapeHarness h;
        h.start();
        QTRY_VERIFY(windowState(&h.f2()).contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")));
        QVERIFY(!windowState(&h.f1()).contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")));
    }

    // The two windows without task bar entries go with the main window, so
    // neither gets lost behind other windows nor minimised on its own.
    void quietWindowsStayWithTheMainWindow()
    {
        RealShapeHarness h;
        h.start();
        QCOMPARE(h.f2().windowHandle()->transientParent(), h.f1().windowHandle());
        QTRY_COMPARE(transientFor(&h.f2()), quint64(h.f1().winId()));
        h.f1().aboutItem->trigger();
        QWidget &about = h.program->aboutBox();
        QVERIFY(QTest::qWaitForWindowExposed(&about, 30000));
        QTRY_COMPARE(transientFor(&about), quint64(h.f1().winId()));
        QCOMPARE(about.windowHandle()->transientParent(), h.f1().windowHandle());
    }

    // Keys from the first second: the main window is the active one, its
    // menus and shortcuts answer, the information and compare windows take
    // the same shortcuts, and Tab stops only where something has a name.
    void keyboardFromTheStart()
    {
        RealShapeHarness h;
        h.start();
        MainWindow &f = h.f1();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(&f));
        QVERIFY(h.f2().isVisible());
        const auto activeOnTheServer = [] {
            QProcess p;
            p.start(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
            p.waitForFinished(10000);
            return p.readAllStandardOutput().trimmed().toULongLong();
        };
        QTRY_COMPARE(activeOnTheServer(), quint64(f.winId()));

        xdotool({"key", "alt+f"});
        QTRY_VERIFY(f.fileMenu->isVisible());
        xdotool({"key", "Escape", "Escape"});
        QTRY_VERIFY(!f.fileMenu->isVisible());

        // Ctrl+O asks for a file (the double cancels it).
        xdotool({"key", "ctrl+o"});
        QTRY_COMPARE(h.fakes.fileChooser.requests.size(), 1);
        // Ctrl+K opens the compare window, where Ctrl+S still saves.
        xdotool({"key", "ctrl+k"});
        QTRY_VERIFY(h.program->compareSlot().loaded() && h.program->compareWindow().isVisible());
        QTRY_COMPARE(QApplication::activeWindow(),
                     static_cast<QWidget *>(&h.program->compareWindow()));
        xdotool({"key", "ctrl+s"});
        QTRY_COMPARE(h.fakes.fileChooser.requests.size(), 2);
        h.program->compareWindow().close();

        // From the information window too.
        h.f2().activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(&h.f2()));
        xdotool({"key", "ctrl+o"});
        QTRY_COMPARE(h.fakes.fileChooser.requests.size(), 3);

        // Tab round both windows: every stop has a name and can be used.
        f.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(&f));
        QStringList stops;
        for (int i = 0; i < 9; ++i) {
            const QWidget *before = QApplication::focusWidget();
            xdotool({"key", "Tab"});
            QTRY_VERIFY(QApplication::focusWidget() && QApplication::focusWidget() != before);
            const QWidget *w = QApplication::focusWidget();
            QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());
            QVERIFY(w->isEnabled() && w->isVisible());
            stops << w->accessibleName();
        }
        QCOMPARE(stops.first(), f.openButton->accessibleName());
        QVERIFY2(stops.contains(h.f2().qualityBar->accessibleName()), qPrintable(stops.join(',')));

        // Ctrl+Q ends the program.
        f.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(&f));
        xdotool({"key", "ctrl+q"});
        QTRY_VERIFY(rt::ended());
    }

    // After a capture the program takes the front back from the browser,
    // also from one that asks for the front again a moment later.
    void frontTakenBackFromALateWindow()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(&f));
        QProcess other;
        other.start(QStringLiteral(SOLID_WINDOW), {QStringLiteral("#3050d0")});
        QVERIFY(other.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == nullptr, 30000);
        xcb_connection_t *c = platform::x11::connection();
        const xcb_window_t otherWindow = platform::x11::namedActiveWindow(c);
        QVERIFY(otherWindow != XCB_NONE);

        // With the program in front, the other window asks for the front
        // just after the program asked again, as a browser still coming up
        // does, and has it until the program asks once more a second later.
        platform::X11WindowActivator(QList<int>()).activate(platform::applicationTitle());
        QTRY_COMPARE(platform::x11::namedActiveWindow(c), xcb_window_t(f.winId()));
        platform::X11WindowActivator({1000}).activate(platform::applicationTitle());
        platform::x11::sendToRoot(c, otherWindow, "_NET_ACTIVE_WINDOW",
                                  {2, XCB_CURRENT_TIME, 0, 0, 0});
        bool otherHadIt = false;
        QTRY_VERIFY([&] {
            const xcb_window_t front = platform::x11::namedActiveWindow(c);
            otherHadIt |= front == otherWindow;
            return otherHadIt && front == xcb_window_t(f.winId());
        }());
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(&f));
        other.kill();
        other.waitForFinished(10000);
    }

    void mainWindowUnderAWindowManager()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        // The window's place is that of its client area, whatever the frame.
        QTRY_COMPARE(f.centralWidget()->mapToGlobal(QPoint(0, 0)), QPoint(257, 138));
        QTRY_VERIFY(f.frameGeometry().height() > f.height());

        // Dragging to 2000 twips: it snaps back to an outer 3000 twips.
        const int frame = f.frameGeometry().height() - f.height();
        f.resize(f.width(), 133 - frame);
        QTRY_COMPARE(f.frameGeometry().height(), 200);
        const int inner = 200 - frame - f.menuBar()->height();
        QTRY_COMPARE(f.pictureView->size(), QSize(inner - 57, inner - 57));

        // Minimising and restoring: no error, the picture and height stay.
        f.resize(f.width(), 400);
        QTRY_COMPARE(f.height(), 400);
        const QSize picture = f.pictureView->size();
        f.showMinimized();
        QTRY_VERIFY(f.isMinimized());
        QCOMPARE(f.pictureView->size(), picture);
        f.showNormal();
        QTRY_VERIFY(!f.isMinimized());
        QTRY_COMPARE(f.height(), 400);
        QTRY_COMPARE(f.pictureView->size(), picture);
        QVERIFY(h.unhandled.isEmpty());
        QVERIFY(!rt::ended());
    }
};

QTEST_MAIN(TestOnX11)
#include "test_on_x11.moc"
