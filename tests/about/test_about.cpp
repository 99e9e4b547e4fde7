// The About box: its texts, the blocking of the other two windows, and its
// system information button.
#include "about/about_box.h"
#include "harness.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>

namespace
{
const QString Unavailable = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");

AboutBox &open(Harness &h)
{
    h.f1().aboutItem->trigger();
    QCoreApplication::processEvents();
    return h.program->aboutBox();
}

bool usable(Harness &h)
{
    return h.f1().isEnabled() && h.f2().isEnabled();
}

bool unloaded(Harness &h)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !h.program->aboutSlot().loaded();
}
} // namespace

class TestAbout : public QObject
{
    Q_OBJECT
private slots:
    void opensWithItsTextsAndBlocksTheOthers()
    {
        Harness h;
        h.start();
        AboutBox &box = open(h);
        QVERIFY(box.isVisible());
        QCOMPARE(box.windowTitle(), QStringLiteral("みぽ様ツールのバージョン情報"));
        QCOMPARE(box.versionLabel->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.3.0"));
        QCOMPARE(box.titleLabel->text(), QStringLiteral("みぽＱＵＩＢＢＯ"));
        QCOMPARE(box.descriptionLabel->text(), QStringLiteral("Jpeg//Bmp簡易変換ツール"));
        QCOMPARE(box.disclaimerLabel->text(), QStringLiteral("Hollowmere　2000"));
        QCOMPARE(box.okButton->text(), QStringLiteral("OK"));
        QCOMPARE(box.systemInfoButton->text(), QStringLiteral("ｼｽﾃﾑ情報(&S)..."));
        QCOMPARE(box.size(), QSize(284, 245));
        QVERIFY(box.okButton->isDefault());
        QCOMPARE(box.focusWidget(), box.okButton);
        QVERIFY(!box.iconLabel->pixmap().isNull());
        QCOMPARE(box.titleLabel->font().pointSizeF(), 14.25);
        QVERIFY(box.titleLabel->font().bold() && box.titleLabel->font().italic());
        QCOMPARE(box.titleLabel->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        // The title runs past the box's right edge, where it is cut on purpose.
        QVERIFY(box.titleLabel->geometry().right() > box.width());
        QCOMPARE(h.fakes.windowShape.taskbarSkips, 2); // InformationWindow and the box
        QVERIFY(!h.f1().isEnabled());
        QVERIFY(!h.f2().isEnabled());

        // While it is open, the main window's menu and the quality slider take nothing.
        QTest::mouseClick(h.f1().menuBar(), Qt::LeftButton, {}, QPoint(20, 8));
        QVERIFY(!QApplication::activePopupWidget());
        QTest::mouseClick(h.f2().qualityBar, Qt::LeftButton, {}, QPoint(90, 4));
        QCOMPARE(h.doc().JpegQuality(), 50);
        QCOMPARE(h.f2().qualityLabel->text(), QStringLiteral("50"));

        // Tab goes between the two buttons, never to the icon; the keys of
        // the blocked windows do nothing.
        for (int i = 0; i < 4; ++i) {
            QWidget *from = box.focusWidget();
            QVERIFY(from);
            QTest::keyClick(from, Qt::Key_Tab);
            QWidget *stop = box.focusWidget();
            QVERIFY(stop != from);
            QVERIFY(stop == box.okButton || stop == box.systemInfoButton);
        }
        h.f1().openItem->activate(QAction::Trigger);
        QVERIFY(h.fakes.fileChooser.requests.isEmpty());
    }

    void okAndTheCloseButtonBothGiveTheWindowsBack()
    {
        Harness h;
        h.start();
        QTest::mouseClick(open(h).okButton, Qt::LeftButton);
        QVERIFY(usable(h));
        QVERIFY(unloaded(h));

        open(h).close();
        QVERIFY(usable(h));
        QVERIFY(unloaded(h));
        QVERIFY(!rt::ended());
    }

    void enterAndEscPressOk()
    {
        Harness h;
        h.start();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            AboutBox &box = open(h);
            QTest::keyClick(&box, key);
            QVERIFY(usable(h));
            QVERIFY(unloaded(h));
        }
    }

    // Enter presses the focused button: on ｼｽﾃﾑ情報 it asks for the viewer
    // and the box stays.
    void enterOnSystemInformation()
    {
        Harness h;
        h.start();
        AboutBox &box = open(h);
        box.systemInfoButton->setFocus();
        QTest::keyClick(box.systemInfoButton, Qt::Key_Return);
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, Unavailable);
        QVERIFY(!unloaded(h));
        QVERIFY(!usable(h));
    }

    // Blocked, the other windows look as they did, and the main window's
    // close button does nothing either.
    void blockedWindowsKeepTheirLook()
    {
        Harness h;
        h.start();
        open(h);
        QVERIFY(!h.f1().isEnabled());
        // Drawn disabled and drawn enabled, both behind the box: the same.
        for (QWidget *w : {static_cast<QWidget *>(&h.f1()), static_cast<QWidget *>(&h.f2())}) {
            const QImage blocked = w->grab().toImage();
            w->setEnabled(true);
            const QImage enabled = w->grab().toImage();
            w->setEnabled(false);
            // (The style's bevels may differ by a shade; text and pictures do not.)
            QCOMPARE(blocked.size(), enabled.size());
            int most = 0;
            for (int y = 0; y < blocked.height(); ++y)
                for (int x = 0; x < blocked.width(); ++x) {
                    const QRgb a = blocked.pixel(x, y), b = enabled.pixel(x, y);
                    most = std::max({most, qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)),
                                     qAbs(qBlue(a) - qBlue(b))});
                }
            QVERIFY2(most <= 40, qPrintable(QString::number(most)));
        }
        QCloseEvent close;
        QCoreApplication::sendEvent(&h.f1(), &close);
        QVERIFY(!close.isAccepted());
        QVERIFY(!rt::ended());
        QVERIFY(h.f1().isVisible());
    }

    void eachOpeningIsAfresh()
    {
        Harness h;
        h.start();
        AboutBox *first = &open(h);
        first->descriptionLabel->setText(QStringLiteral("changed"));
        first->okButton->click();
        QVERIFY(unloaded(h));
        // Loading alone already gives the version line: "Ver.0.2β" is never shown.
        AboutBox &again = h.program->aboutBox();
        QCOMPARE(again.versionLabel->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.3.0"));
        QCOMPARE(again.descriptionLabel->text(), QStringLiteral("Jpeg//Bmp簡易変換ツール"));
    }

    void altSPressesSystemInformation()
    {
        Harness h;
        h.start();
        AboutBox &box = open(h);
        // Shortcuts go to the active window, and on a busy machine a late
        // activation of another window may still take it from the box: the
        // keys are pressed again until the box has had them.
        for (int tries = 0; tries < 10; ++tries) {
            QVERIFY(bringToFront(box));
            QTest::keyClick(&box, Qt::Key_S, Qt::AltModifier);
            // The button is clicked as if by hand, a moment after the keys.
            if (QTest::qWaitFor([&] { return !h.fakes.messageBox.calls.isEmpty(); }, 3000))
                break;
        }
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, Unavailable);
        QCOMPARE(h.fakes.messageBox.calls[0].title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        QCOMPARE(h.fakes.messageBox.calls[0].style, int(platform::MessageStyle::OkOnly));
        // With a viewer installed the button starts it, and the box stays open.
        h.fakes.programLauncher.installed = {"gnome-system-monitor"};
        box.systemInfoButton->click();
        QCOMPARE(h.fakes.programLauncher.started, QStringList{"/usr/bin/gnome-system-monitor"});
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QVERIFY(box.isVisible());
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
