#include "about/about_box.h"

#include "about/system_info.h"
#include "core/app_identity.h"
#include "core/runtime.h"
#include "widgets/controls.h"
#include "widgets/definitions.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace
{
const defs::ControlDef &def(const char *name)
{
    return defs::control(defs::AboutBoxControls, name);
}

QString text(const char *name)
{
    for (const auto &t : defs::AboutBoxTexts)
        if (qstrcmp(t[0], name) == 0)
            return QString::fromUtf8(t[1]);
    return {};
}

} // namespace

AboutBox::AboutBox(const platform::Services &sys, OtherWindows others)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      sys_(sys), others_(std::move(others))
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette face = palette();
    face.setColor(QPalette::Window, defs::color(defs::AboutBoxBackground));
    face.setColor(QPalette::WindowText, Qt::black);
    setPalette(face);
    setWindowTitle(QString::fromUtf8(defs::AboutBox.caption));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/program.ico")));
    setFixedSize(rt::twipsToPixels(defs::AboutBox.clientWidth),
                 rt::twipsToPixels(defs::AboutBox.clientHeight));
    placeOn(QGuiApplication::primaryScreen());

    iconLabel = new QLabel(this);
    iconLabel->setPixmap(QIcon(QStringLiteral(":/pictures/program.ico")).pixmap(32, 32));
    iconLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A picture that does nothing: the keyboard passes it by.
    iconLabel->setFocusPolicy(Qt::NoFocus);
    defs::place(iconLabel, def("iconLabel"));

    titleLabel = defs::label(this, text("titleLabel"));
    titleLabel->setFont(defs::font(defs::AboutBoxTitleFontPt, true, true));
    QPalette red = titleLabel->palette();
    red.setColor(QPalette::WindowText, defs::color(defs::AboutBoxTitleColor));
    titleLabel->setPalette(red);
    titleLabel->setWordWrap(false);
    defs::place(titleLabel, def("titleLabel"));

    versionLabel = defs::label(this, text("versionLabel"));
    versionLabel->setWordWrap(false);
    defs::place(versionLabel, def("versionLabel"));

    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    descriptionLabel = defs::label(this, text("descriptionLabel"));
    descriptionLabel->setPalette(black);
    defs::place(descriptionLabel, def("descriptionLabel"));

    auto *dividerLine = new QFrame(this);
    dividerLine->setObjectName(QStringLiteral("dividerLine"));
    dividerLine->setFrameStyle(QFrame::NoFrame);
    dividerLine->setAutoFillBackground(true);
    QPalette grey = dividerLine->palette();
    grey.setColor(QPalette::Window, defs::color(defs::AboutBoxDividerLineColor));
    dividerLine->setPalette(grey);
    const int *l = defs::AboutBoxDividerLine;
    dividerLine->setGeometry(rt::twipsToPixels(l[0]), rt::twipsToPixels(l[1]),
                             rt::twipsToPixels(l[2] - l[0]), 1);

    // Created before the buttons, so that they are drawn above it.
    disclaimerLabel = defs::label(this, text("disclaimerLabel"));
    disclaimerLabel->setPalette(black);
    defs::place(disclaimerLabel, def("disclaimerLabel"));

    okButton = new QPushButton(text("okButton"), this);
    okButton->setDefault(true);
    defs::place(okButton, def("okButton"));
    systemInfoButton = new QPushButton(text("systemInfoButton"), this);
    // Enter presses the focused button; OK while no other button has the focus.
    systemInfoButton->setAutoDefault(true);
    defs::place(systemInfoButton, def("systemInfoButton"));

    setTabOrder(okButton, systemInfoButton);

    connect(okButton, &QPushButton::clicked, this, [this] { rt::guard([this] { okClicked(); }); });
    connect(systemInfoButton, &QPushButton::clicked, this,
            [this] { rt::guard([this] { systemInfoClicked(); }); });

    winId();
    sys_.windowShape->skipTaskbar(this);
}

void AboutBox::placeOn(const QScreen *screen)
{
    // The client area's place, from the screen's corner (Qt's geometry of a
    // window excludes its frame).
    const QPoint corner = screen ? screen->geometry().topLeft() : QPoint();
    setGeometry(corner.x() + rt::twipsToPixels(defs::AboutBox.clientLeft),
                corner.y() + rt::twipsToPixels(defs::AboutBox.clientTop), width(), height());
}

void AboutBox::showWindow()
{
    okButton->setFocus();
    // On the screen the main window is on.
    if (!isVisible())
        placeOn(ownersScreen(this));
    ::showWindow(this);
}

void AboutBox::closeEvent(QCloseEvent *event)
{
    // The close button unloads the box, like OK does.
    event->ignore();
    rt::guard([this] { others_.unloadMe(); });
}

void AboutBox::reject()
{
    okButton->click();
}

// --- handlers ------------------------------------------------------------------------------

void AboutBox::loadWindow()
{
    setWindowTitle(QStringLiteral("みぽ様ツールのバージョン情報"));
    const int16_t major = app_identity::Major, minor = app_identity::Minor,
                  revision = app_identity::Revision;
    versionLabel->setText(QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + QString::number(major) + u'.' +
                          QString::number(minor) + u'.' + QString::number(revision));
    titleLabel->setText(platform::applicationTitle());
}

void AboutBox::okClicked()
{
    others_.enable(true);
    others_.unloadMe();
}

void AboutBox::unloadWindow(int16_t &)
{
    others_.enable(true);
}

void AboutBox::systemInfoClicked()
{
    startSystemInfo();
}

void AboutBox::startSystemInfo()
{
    about::startSystemInfo(*sys_.programLauncher, *sys_.messageBox);
}
