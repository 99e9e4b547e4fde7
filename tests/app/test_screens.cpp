// Two screens side by side (Qt's offscreen platform, tests/support/screens.json): the
// windows that belong to the main window open on the main window's screen.
#include "about/about_box.h"
#include "harness.h"

#include <QScreen>
#include <QWindow>

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::screens().size(), 2); }

    void windowsFollowTheMainWindowsScreen()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        QScreen *right = QGuiApplication::screens().at(1);
        QCOMPARE(f.screen(), QGuiApplication::primaryScreen()); // where it starts
        f.move(right->geometry().topLeft() + QPoint(200, 150));
        QTRY_COMPARE(f.windowHandle()->screen(), right);

        // The About box at its place, from the corner of the main window's screen.
        f.aboutChosen();
        AboutBox &about = h.program->aboutBox();
        QTRY_VERIFY(about.isVisible());
        QCOMPARE(about.geometry().topLeft(), right->geometry().topLeft() + QPoint(75, 118));
        about.close();

        // The information window, shown again, centred on that screen.
        InformationWindow &form = h.f2();
        form.hide();
        h.doc().showInformationWindow();
        QTRY_VERIFY(form.isVisible());
        QCOMPARE(form.geometry().center(), right->geometry().center());
    }
};

QTEST_MAIN(TestScreens)
#include "test_screens.moc"
