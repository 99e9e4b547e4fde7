#pragma once
// What a capture must give in every kind of session (X11, a Wayland desktop
// through XWayland and its portal, GNOME Shell and KWin): the bodies the
// session tests share, each session adding only what is its own.

#include "main_window/main_window.h"
#include "real_harness.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

namespace capture_cases
{

inline const QColor PageBlue(0x1e, 0x90, 0xff);

inline bool chromiumInstalled()
{
    return QFileInfo(QStringLiteral("/usr/lib/chromium/chromium")).isExecutable();
}

// "全体をクリップにコピー" then "クリップボードの画像を取り込む": nothing is said,
// and the picture is the whole screen, of the size given, with at least the
// share given of the colour given in it (a window known to be on screen).
inline void copyDesktopThenImport(RealHarness &h, QSize screen, QColor shown, double atLeast,
                                  const char *session)
{
    MainWindow &f = h.f1();
    QElapsedTimer clock;
    clock.start();
    f.copyDesktopChosen();
    qInfo("desktop copy, %s: %lld ms", session, clock.elapsed());
    QVERIFY2(h.fakes.messageBox.calls.isEmpty(),
             qPrintable(h.fakes.messageBox.calls.value(0).prompt));
    f.importClipboardChosen();
    const QImage shot = f.pictureBox->picture();
    QCOMPARE(shot.size(), screen);
    QVERIFY2(share(shot, shown) >= atLeast, qPrintable(QString::number(share(shot, shown))));
    // The document's size is the picture's, with the picture box's border.
    QCOMPARE(h.doc().PicWidth, float(screen.width() + 4) * 15);
}

// The page in the colour given, captured through the browser script given
// (empty: the factory's own browser) at the wait the program starts with:
// the picture is the page and the user hears "キャプチャ完了". Returns the
// browser's process id, 0 when unknown.
inline qint64 capturePageShowsIt(RealHarness &h, const QString &browserScript,
                                 const QTemporaryDir &dir, const char *session)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 pid = captureOnePage(h, browserScript, dir, "#1e90ff");
    qInfo("browser capture, %s: %lld ms", session, clock.elapsed());
    const QImage shot = h.f1().pictureBox->picture();
    [&] {
        QVERIFY2(!h.fakes.messageBox.calls.isEmpty(), "nothing was said");
        QCOMPARE(h.fakes.messageBox.calls.last().prompt, QStringLiteral("キャプチャ完了"));
        QVERIFY2(share(shot, PageBlue) > 0.5, qPrintable(QStringLiteral("%1x%2, %3 of it the page")
                                                             .arg(shot.width())
                                                             .arg(shot.height())
                                                             .arg(share(shot, PageBlue))));
    }();
    return pid;
}

} // namespace capture_cases
