#include "command_bench.h"

using namespace command_bench;

class TestSystemInfo : public QObject
{
    Q_OBJECT
private slots:
    void init() { rt::resetEnd(); }

    // --- the About box's system information ---

    void systemInformationViewer()
    {
        platform::FakeProgramLauncher launcher;
        platform::FakeMessageBox messages;
        // The first viewer of the list that is installed.
        launcher.installed = {"xfce4-taskmanager", "hardinfo"};
        about::startSystemInfo(launcher, messages);
        QCOMPARE(launcher.started, QStringList{"/usr/bin/hardinfo"});
        QCOMPARE(launcher.asked, (QStringList{"kinfocenter", "hardinfo"}));
        QVERIFY(messages.calls.isEmpty());
        // None, or one that does not start: the message.
        for (const QStringList &installed : {QStringList{}, QStringList{"kinfocenter"}}) {
            launcher.installed = installed;
            launcher.unstartable = {"/usr/bin/kinfocenter"};
            about::startSystemInfo(launcher, messages);
            QCOMPARE(messages.calls.last().prompt,
                     QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));
            QCOMPARE(messages.calls.last().title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        }
        QCOMPARE(launcher.started.size(), 1);
        QCOMPARE(messages.calls.size(), 2);
    }

    // The real launcher with a stand-in viewer on PATH.
    void systemInformationOnThisMachine()
    {
        QTemporaryDir bin;
        const QString marker = bin.filePath("started");
        const QString viewer = bin.filePath("gnome-system-monitor");
        QFile script(viewer);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$0 $#\" > '%1'\n").arg(marker).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        platform::PathProgramLauncher launcher;
        platform::FakeMessageBox messages;
        about::startSystemInfo(launcher, messages);
        QVERIFY(messages.calls.isEmpty());
        QTRY_VERIFY(QFile::exists(marker));
        QFile seen(marker);
        QVERIFY(seen.open(QIODevice::ReadOnly));
        QCOMPARE(seen.readAll().trimmed(), (viewer + QStringLiteral(" 0")).toUtf8());
        // An empty search path: the message.
        QTemporaryDir empty;
        qputenv("PATH", QFile::encodeName(empty.path()));
        about::startSystemInfo(launcher, messages);
        QCOMPARE(messages.calls.size(), 1);
        qputenv("PATH", oldPath);
    }
};

QTEST_GUILESS_MAIN(TestSystemInfo)
#include "test_system_info.moc"
