// The program as a native Wayland client, with no X server at all: a headless
// sway without XWayland (tests/wayland_session.sh --desktop sway-native). The
// screen comes from the portal alone, which cannot tell windows apart.
#include "platform/portal/portal_screenshot.h"
#include "platform/qt/browser_process.h"
#include "real_harness.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace
{
const QColor Page(0x1e, 0x90, 0xff);

// The rectangle sway gives the window of that title, screen pixels.
QRect swayRect(const QString &title)
{
    QProcess tree;
    tree.start(QStringLiteral("swaymsg"), {"-t", "get_tree"});
    tree.waitForFinished(5000);
    QRect found;
    const std::function<void(const QJsonObject &)> walk = [&](const QJsonObject &node) {
        if (node.value("name").toString() == title) {
            const QJsonObject r = node.value("rect").toObject();
            found = QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(),
                          r.value("height").toInt());
        }
        for (const char *list : {"nodes", "floating_nodes"})
            for (const QJsonValue child : node.value(list).toArray())
                walk(child.toObject());
    };
    walk(QJsonDocument::fromJson(tree.readAllStandardOutput()).object());
    return found;
}

int distance(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue());
}
} // namespace

class TestNativeWayland : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
        QVERIFY(qEnvironmentVariableIsEmpty("DISPLAY"));
        app::LinuxServices real;
        QVERIFY(!real.screenGrabber->seesWindows());
    }

    // Chromium is started for Wayland and shows the page, which is what is
    // taken; started for X11 it would end at once without a window.
    void browserCaptureForThisPlatform()
    {
        if (!QFileInfo(QStringLiteral("/usr/lib/chromium/chromium")).isExecutable())
            QFAIL("chromium is not installed");
        QTemporaryDir dir;
        platform::ProcessBrowserFactory chromium(60000, {chromiumWrapper(dir)});
        RealHarness h([&](platform::Services &s) { s.browserFactory = &chromium; });
        h.start();
        captureOnePage(h, {}, dir, "#1e90ff", 400); // 4 s for a cold browser to draw
        endProcessIn(dir.filePath(QStringLiteral("pids")));
        const QImage shot = h.f1().pictureBox->picture();
        QVERIFY(!h.fakes.messageBox.calls.isEmpty());
        QCOMPARE(h.fakes.messageBox.calls.last().prompt, QStringLiteral("キャプチャ完了"));
        QVERIFY2(share(shot, Page) > 0.25, qPrintable(QStringLiteral("%1x%2, %3 of it the page")
                                                          .arg(shot.width())
                                                          .arg(shot.height())
                                                          .arg(share(shot, Page))));
    }

    // Where no window can be seen, a browser that has ended is never a
    // capture: with an error it is said at once, and so is an end without one.
    void endedBrowserIsNoCapture_data()
    {
        QTest::addColumn<QByteArray>("browser");
        QTest::addColumn<QString>("said");
        QTest::newRow("an error") << QByteArray("/bin/false")
                                  << QStringLiteral(
                                         "ブラウザがエラーで終了しました（終了コード 1）。"
                                         "現在の画像はそのままです。");
        QTest::newRow("no error") << QByteArray("/bin/true")
                                  << QStringLiteral("ブラウザがページを表示しないまま終了しました。"
                                                    "現在の画像はそのままです。");
    }

    void endedBrowserIsNoCapture()
    {
        QFETCH(QByteArray, browser);
        QFETCH(QString, said);
        RealHarness h;
        h.start();
        adopt(h.doc(), 321, 123);
        const qint64 key = h.f1().pictureBox->picture().cacheKey();
        setEnvironment(h, "BROWSER", browser);
        h.fakes.fileChooser.answers << QStringLiteral("/nowhere/page.html");
        h.f1().browserCaptureClicked();
        setEnvironment(h, "BROWSER", {});
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, said);
        QCOMPARE(h.f1().pictureBox->picture().cacheKey(), key);
    }

    // The elliptical window is see-through outside its ellipse: its corners
    // show what is behind it.
    void ellipseSeeThrough()
    {
        RealHarness h;
        h.start();
        InformationWindow &form = h.f2();
        QVERIFY(form.testAttribute(Qt::WA_TranslucentBackground));
        QRect r;
        QTRY_VERIFY((r = swayRect(form.windowTitle())).isValid() && r.width() == form.width());
        // The screen once the compositor shows the window's own face inside.
        const QColor face = form.palette().color(QPalette::Window);
        QImage screen;
        QTRY_VERIFY_WITH_TIMEOUT(
            (screen = platform::portalScreenshot(std::chrono::seconds(10)).picture,
             !screen.isNull() && distance(screen.pixelColor(r.center()), face) < 20),
            20000);
        for (const QPoint corner :
             {r.topLeft() + QPoint(2, 2), r.topRight() + QPoint(-2, 2),
              r.bottomLeft() + QPoint(2, -2), r.bottomRight() - QPoint(2, 2)}) {
            const QColor seen = screen.pixelColor(corner);
            QVERIFY2(distance(seen, face) > 40,
                     qPrintable(QStringLiteral("%1 at the corner").arg(seen.name())));
        }
    }
};

QTEST_MAIN(TestNativeWayland)
#include "test_native_wayland.moc"
