// The About box: its texts, the blocking of the other two windows, and every
// branch of the system information lookup (through a registry double).
#include "about/frm_about.h"
#include "harness.h"

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>

namespace
{
const QByteArray Key1 = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const QByteArray Key2 = "SOFTWARE\\Microsoft\\Shared Tools Location";
const QString Unavailable = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");

platform::FakeRegistry::Value text(const QByteArray &s)
{
    return {platform::Registry::REG_SZ, s};
}

frmAbout &open(Harness &h)
{
    h.f1().mnuver->trigger();
    QCoreApplication::processEvents();
    return h.program->frmAbout();
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
        frmAbout &box = open(h);
        QVERIFY(box.isVisible());
        QCOMPARE(box.windowTitle(), QStringLiteral("みぽ様ツールのバージョン情報"));
        QCOMPARE(box.lblVersion->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.3.0"));
        QCOMPARE(box.lblTitle->text(), QStringLiteral("みぽＱＵＩＢＢＯ"));
        QCOMPARE(box.lblDescription->text(), QStringLiteral("Jpeg//Bmp簡易変換ツール"));
        QCOMPARE(box.lblDisclaimer->text(), QStringLiteral("Hollowmere　2000"));
        QCOMPARE(box.cmdOK->text(), QStringLiteral("OK"));
        QCOMPARE(box.cmdSysInfo->text(), QStringLiteral("ｼｽﾃﾑ情報(&S)..."));
        QCOMPARE(box.size(), QSize(284, 245));
        QVERIFY(box.cmdOK->isDefault());
        QCOMPARE(box.focusWidget(), box.cmdOK);
        QVERIFY(!box.picIcon->pixmap().isNull());
        QCOMPARE(box.lblTitle->font().pointSizeF(), 14.25);
        QVERIFY(box.lblTitle->font().bold() && box.lblTitle->font().italic());
        QCOMPARE(box.lblTitle->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        // Cut at the right edge by design.
        QVERIFY(box.lblTitle->geometry().right() > box.width());
        QCOMPARE(h.fakes.windowShape.taskbarSkips, 2); // Form2 and the box
        QVERIFY(!h.f1().isEnabled());
        QVERIFY(!h.f2().isEnabled());

        // While it is open, the main window's menu and the quality slider take nothing.
        QTest::mouseClick(h.f1().menuBar(), Qt::LeftButton, {}, QPoint(20, 8));
        QVERIFY(!QApplication::activePopupWidget());
        QTest::mouseClick(h.f2().HScroll1, Qt::LeftButton, {}, QPoint(90, 4));
        QCOMPARE(h.program->JpegQuality, 50);
        QCOMPARE(h.f2().Label2->text(), QStringLiteral("50"));
    }

    void okAndTheCloseButtonBothGiveTheWindowsBack()
    {
        Harness h;
        h.start();
        QTest::mouseClick(open(h).cmdOK, Qt::LeftButton);
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
            frmAbout &box = open(h);
            QTest::keyClick(&box, key);
            QVERIFY(usable(h));
            QVERIFY(unloaded(h));
        }
    }

    void eachOpeningIsAfresh()
    {
        Harness h;
        h.start();
        frmAbout *first = &open(h);
        first->lblDescription->setText(QStringLiteral("changed"));
        first->cmdOK->click();
        QVERIFY(unloaded(h));
        // Loading alone already gives the version line: "Ver.0.2β" is never shown.
        frmAbout &again = h.program->frmAbout();
        QCOMPARE(again.lblVersion->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.3.0"));
        QCOMPARE(again.lblDescription->text(), QStringLiteral("Jpeg//Bmp簡易変換ツール"));
    }

    void altSPressesSystemInformation()
    {
        Harness h;
        h.start();
        frmAbout &box = open(h);
        box.activateWindow(); // shortcuts go to the active window
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTest::keyClick(&box, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(h.fakes.messageBox.calls.size(), 1); // the button is clicked as if by hand
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, Unavailable);
        QCOMPARE(h.fakes.messageBox.calls[0].title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        QCOMPARE(h.fakes.messageBox.calls[0].style, int(platform::vbOKOnly));
        QVERIFY(box.isVisible()); // stays open
        QCOMPARE(h.fakes.registry.attempts, (QList<QByteArray>{Key1, Key2}));
    }

    void firstLocationIsStartedAsItIs()
    {
        Harness h;
        h.start();
        h.fakes.registry.keys[Key1]["PATH"] = text("C:\\Tools\\viewer.exe");
        h.fakes.processStarter.startable << "C:\\Tools\\viewer.exe";
        open(h).cmdSysInfo->click();
        QCOMPARE(h.fakes.processStarter.started, QStringList{"C:\\Tools\\viewer.exe"});
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
        QVERIFY(h.fakes.fileSystem.asked.isEmpty()); // no further test
        QVERIFY(h.fakes.registry.open.isEmpty());
    }

    void firstLocationNamingAMissingFile()
    {
        Harness h;
        h.start();
        h.fakes.registry.keys[Key1]["PATH"] = text("C:\\gone.exe");
        h.fakes.registry.keys[Key2]["MSINFO"] = text("C:\\Tools");
        open(h).cmdSysInfo->click();
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, Unavailable);
        QCOMPARE(h.fakes.registry.attempts, QList<QByteArray>{Key1}); // second not tried
    }

    void secondLocationFolder()
    {
        Harness h;
        h.start();
        h.fakes.registry.keys[Key2]["MSINFO"] = text("C:\\Tools");
        frmAbout &box = open(h);
        box.cmdSysInfo->click(); // the folder lacks the viewer
        QCOMPARE(h.fakes.fileSystem.asked, QStringList{"C:\\Tools\\MSINFO32.EXE"});
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QVERIFY(h.fakes.processStarter.started.isEmpty());

        h.fakes.fileSystem.files << "C:\\Tools\\MSINFO32.EXE";
        h.fakes.processStarter.startable << "C:\\Tools\\MSINFO32.EXE";
        box.cmdSysInfo->click();
        QCOMPARE(h.fakes.processStarter.started, QStringList{"C:\\Tools\\MSINFO32.EXE"});
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);

        // A folder ending in a backslash gives a doubled one.
        h.fakes.registry.keys[Key2]["MSINFO"] = text("D:\\Info\\");
        box.cmdSysInfo->click();
        QCOMPARE(h.fakes.fileSystem.asked.last(), QStringLiteral("D:\\Info\\\\MSINFO32.EXE"));
        QVERIFY(h.fakes.registry.open.isEmpty());
    }

    void keysThatCannotBeOpenedWithFullAccess()
    {
        Harness h;
        h.start();
        h.fakes.registry.keys[Key1]["PATH"] = text("C:\\viewer.exe");
        h.fakes.registry.denied << Key1;
        h.fakes.processStarter.startable << "C:\\viewer.exe";
        open(h).cmdSysInfo->click();
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QVERIFY(h.fakes.processStarter.started.isEmpty());
        // The handle 0 of a failed open is closed too.
        QVERIFY(h.fakes.registry.closed.contains(0));
    }

    void valueKinds()
    {
        Harness h;
        h.start();
        frmAbout &box = open(h);
        int32_t root = platform::Registry::HKEY_LOCAL_MACHINE;
        QString key = QString::fromLatin1(Key1), name = QStringLiteral("PATH"), val;

        // A number: the bytes before the first zero, last to first, in hexadecimal.
        h.fakes.registry.keys[Key1]["PATH"] = {platform::Registry::REG_DWORD,
                                               QByteArray("\x01\x2A\x00\x07", 4)};
        QVERIFY(box.GetKeyValue(root, key, name, val));
        QCOMPARE(val, QStringLiteral("&h2A1"));

        // Another type: the caller's text stays.
        h.fakes.registry.keys[Key1]["PATH"] = {3, QByteArray("\x05\x06", 2)};
        val = QStringLiteral("kept");
        QVERIFY(box.GetKeyValue(root, key, name, val));
        QCOMPARE(val, QStringLiteral("kept"));

        // A missing value: empty, false.
        name = QStringLiteral("NONE");
        QVERIFY(!box.GetKeyValue(root, key, name, val));
        QCOMPARE(val, QString());

        // Exactly 1024 non-zero bytes: the invalid-argument error, the key closed first.
        name = QStringLiteral("PATH");
        h.fakes.registry.keys[Key1]["PATH"] = text(QByteArray(1024, 'x'));
        int error = 0;
        try {
            box.GetKeyValue(root, key, name, val);
        } catch (const rt::RuntimeError &e) {
            error = e.number();
        }
        QCOMPARE(error, int(rt::ErrInvalidCall));
        QVERIFY(h.fakes.registry.open.isEmpty());
        // Through the button it leads to the message.
        box.cmdSysInfo->click();
        QCOMPARE(h.fakes.messageBox.calls.last().prompt, Unavailable);
        // 1025 bytes do not fit the buffer at all.
        h.fakes.registry.keys[Key1]["PATH"] = text(QByteArray(1025, 'x'));
        QVERIFY(!box.GetKeyValue(root, key, name, val));
        QVERIFY(h.fakes.registry.open.isEmpty());
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
