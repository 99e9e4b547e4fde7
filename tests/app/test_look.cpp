// How the windows look in the settings users have: the locale (Japanese or
// not), a dark theme, a scaled screen. Run under several LANG and
// QT_SCALE_FACTOR settings, as the test's CTest entries say.
#include "about/about_box.h"
#include "harness.h"
#include "info_window/information_window.h"
#include "platform/qt/application_setup.h"
#include "platform/qt/file_chooser.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

namespace
{
// Labels cut at the window's edge on purpose.
const QStringList CutOnPurpose{"titleLabel"};

double luminance(QColor c)
{
    return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF();
}

// The colour a widget's text lies on: its own filled background, else the
// nearest filled one above it.
QColor backgroundOf(const QWidget *w)
{
    for (; w; w = w->parentWidget())
        if (w->autoFillBackground() || w->isWindow())
            return w->palette().color(QPalette::Window);
    return Qt::white;
}

QList<QWidget *> windowsOf(Harness &h)
{
    h.f1().aboutItem->trigger();
    QCoreApplication::processEvents();
    return {&h.f1(), &h.f2(), &h.program->aboutBox()};
}
} // namespace

class TestLook : public QObject
{
    Q_OBJECT
private slots:
    void everyCaptionFits()
    {
        Harness h;
        h.start();
        h.doc().showFileName(QStringLiteral("/home/user/写真/桜.jpg"));
        int checked = 0;
        for (QWidget *window : windowsOf(h)) {
            for (QLabel *l : window->findChildren<QLabel *>()) {
                if (l->text().isEmpty() || CutOnPurpose.contains(l->objectName()))
                    continue;
                const QRect room = l->contentsRect();
                const QFontMetrics fm(l->font());
                if (l->wordWrap())
                    QVERIFY2(l->heightForWidth(l->width()) <= l->height() ||
                                 fm.boundingRect(room, Qt::TextWordWrap, l->text()).height() <=
                                     room.height(),
                             qPrintable(l->objectName() + u' ' + l->text()));
                else
                    QVERIFY2(fm.horizontalAdvance(l->text()) <= room.width(),
                             qPrintable(QStringLiteral("%1 \"%2\": %3 > %4")
                                            .arg(l->objectName(), l->text())
                                            .arg(fm.horizontalAdvance(l->text()))
                                            .arg(room.width())));
                ++checked;
            }
            for (QAbstractButton *b : window->findChildren<QAbstractButton *>())
                if (!b->text().isEmpty()) {
                    QVERIFY2(QFontMetrics(b->font()).horizontalAdvance(b->text()) < b->width() - 4,
                             qPrintable(b->text()));
                    ++checked;
                }
        }
        QVERIFY(checked >= 8);
    }

    // Every read-out the size can give fits whole beside the quality number,
    // inside the ellipse, whatever the locale's face and the screen's scale.
    void sizeReadOutFits()
    {
        Harness h;
        h.start();
        InformationWindow &f = h.f2();
        const QRect r = f.SizeLabel->geometry();
        const double a = f.width() / 2.0, b = f.height() / 2.0;
        for (const QPoint p : {r.topRight(), r.bottomRight()}) {
            const double dx = (p.x() - a) / a, dy = (p.y() - b) / b;
            QVERIFY2(dx * dx + dy * dy < 1.0,
                     qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
        }
        QVERIFY(!r.intersects(f.qualityLabel->geometry()));
        const QFontMetrics fm(f.SizeLabel->font());
        for (const qint64 bytes : {qint64(100), qint64(211) * 1024, qint64(999) * 1024,
                                   qint64(9900) * 1024, qint64(461) << 20, qint64(999) << 20}) {
            const QString text = InformationWindow::sizeText(bytes);
            QVERIFY2(fm.horizontalAdvance(text) <= f.SizeLabel->contentsRect().width(),
                     qPrintable(QStringLiteral("\"%1\": %2 > %3")
                                    .arg(text)
                                    .arg(fm.horizontalAdvance(text))
                                    .arg(f.SizeLabel->contentsRect().width())));
        }
        QVERIFY(f.SizeLabel->font().pointSizeF() >= 6);
    }

    // The file dialog's detail view shows each file's size, kind and date
    // whole, its name beside them.
    void fileDialogColumnsFit()
    {
        platform::installJapaneseQtTexts();
        QTemporaryDir dir;
        QImage photo(640, 480, QImage::Format_RGB32);
        photo.fill(Qt::darkGreen);
        QVERIFY(photo.save(dir.filePath("IMG_0001.JPG"), "JPEG"));
        QVERIFY(photo.save(dir.filePath("shot.png")));
        QFile big(dir.filePath("photo.jpeg"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write(QByteArray(211 * 1024 + 300, 'x'));
        big.close();
        QVERIFY(QDir(dir.path()).mkdir("写真"));
        QStringList cut;
        int cells = 0;
        bool fitted = false;
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            auto *tree = d->findChild<QTreeView *>(QStringLiteral("treeView"));
            QVERIFY(tree);
            d->setViewMode(QFileDialog::Detail);
            const QModelIndex root = tree->rootIndex();
            const QFontMetrics fm(tree->font());
            QHeaderView *header = tree->header();
            const auto measure = [&] {
                cut.clear();
                cells = 0;
                for (int row = 0; row < tree->model()->rowCount(root); ++row)
                    for (int column = 0; column < 4; ++column) {
                        const QString text =
                            tree->model()->index(row, column, root).data().toString();
                        const int room = header->sectionSize(column) - (column == 0 ? 24 : 4);
                        if (fm.horizontalAdvance(text) > room)
                            cut << QStringLiteral("%1 (%2 > %3)")
                                       .arg(text)
                                       .arg(fm.horizontalAdvance(text))
                                       .arg(room);
                        ++cells;
                    }
                // Every column on screen, none behind a scroll bar.
                if (header->sectionViewportPosition(3) + header->sectionSize(3) >
                    tree->viewport()->width() + 1)
                    cut << QStringLiteral("the date column runs off the view");
                return cells >= 16 && cut.isEmpty();
            };
            // The columns fit themselves once the folder is read; the verdict
            // is what they show when that has happened, or when time is up.
            fitted = QTest::qWaitFor(measure, 10000);
            d->reject();
        });
        platform::QtFileChooser chooser;
        platform::FileChooser::Request r;
        r.descriptions = QStringList{QStringLiteral("すべて (*)")};
        r.patterns = {{QStringLiteral("*")}};
        r.startPath = dir.filePath("IMG_0001.JPG");
        QVERIFY(!chooser.choose(r).has_value());
        QVERIFY(cells >= 16);
        QVERIFY2(fitted && cut.isEmpty(), qPrintable(cut.join(u'\n')));
    }

    // Where a window fixes its background, the text stays readable under a dark theme.
    void darkThemeKeepsTextReadable()
    {
        const QPalette old = QApplication::palette();
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
        dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
        dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
        dark.setColor(QPalette::ButtonText, QColor(0xe0, 0xe0, 0xe0));
        dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        QApplication::setPalette(dark);
        {
            Harness h;
            h.start();
            h.doc().showFileName(QStringLiteral("NO FILE"));
            for (QWidget *window : windowsOf(h))
                for (QLabel *l : window->findChildren<QLabel *>()) {
                    if (l->text().isEmpty() || !l->pixmap().isNull())
                        continue;
                    const double contrast =
                        qAbs(luminance(l->palette().color(QPalette::WindowText)) -
                             luminance(backgroundOf(l)));
                    QVERIFY2(contrast > 0.4, qPrintable(QStringLiteral("%1 \"%2\": %3")
                                                            .arg(l->objectName(), l->text())
                                                            .arg(contrast)));
                }
        }
        QApplication::setPalette(old);
    }

    // A picture is fitted by its own pixels, whatever its density says; the
    // windows keep their logical size on a scaled screen.
    void scaledScreens()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        QCOMPARE(f.width(), 457);
        QCOMPARE(h.f2().size(), QSize(262, 113));
        QImage grab(800, 100, QImage::Format_RGB32);
        grab.fill(QColor(200, 40, 90));
        grab.setDevicePixelRatio(2); // as a screen grab on a 2x screen comes
        h.fakes.clipboard.content = grab;
        f.importClipboardChosen();
        QCOMPARE(f.pictureView->width(), 457);
        const QImage shown = f.pictureView->grab().toImage();
        const qreal dpr = shown.devicePixelRatio();
        // Its far corner is the picture's, not the window's background.
        QCOMPARE(shown.pixelColor(int(455 * dpr), int((f.pictureView->height() - 2) * dpr)),
                 QColor(200, 40, 90));
    }

    // Transparent parts of a picture show the main window's pink.
    void transparencyShowsTheWindow()
    {
        Harness h;
        h.start();
        QImage gif(40, 40, QImage::Format_ARGB32);
        gif.fill(Qt::transparent);
        h.fakes.clipboard.content = gif;
        h.f1().importClipboardChosen();
        QTest::qWait(50);
        const QImage window = h.f1().grab().toImage();
        const QPoint inside =
            h.f1().pictureView->geometry().center() + h.f1().centralWidget()->geometry().topLeft();
        const qreal dpr = window.devicePixelRatio();
        QCOMPARE(window.pixelColor(int(inside.x() * dpr), int(inside.y() * dpr)),
                 QColor(237, 211, 227));
        // What Save writes stays as it was: the box's background.
        QCOMPARE(h.doc().picture().pixelColor(0, 0),
                 h.f1().pictureBox->palette().color(QPalette::Window));
    }
};

QTEST_MAIN(TestLook)
#include "test_look.moc"
