#include "about/frm_about.h"

#include "app_identity.h"
#include "info_window/form2.h"
#include "main_window/controls.h"
#include "main_window/definitions.h"
#include "main_window/form1.h"
#include "main_window/program.h"
#include "platform/runtime.h"

#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace
{
const defs::ControlDef &def(const char *name)
{
    return defs::control(defs::frmAboutControls, name);
}

QString text(const char *name)
{
    for (const auto &t : defs::frmAboutTexts)
        if (qstrcmp(t[0], name) == 0)
            return QString::fromUtf8(t[1]);
    return {};
}

// Where the system information viewer is registered.
const QString gREGKEYSYSINFOLOC = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString gREGVALSYSINFOLOC = QStringLiteral("MSINFO");
const QString gREGKEYSYSINFO = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString gREGVALSYSINFO = QStringLiteral("PATH");
} // namespace

frmAbout::frmAbout(Program &program)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      program_(program)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QString::fromUtf8(defs::frmAbout.caption));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/program.ico")));
    setFixedSize(rt::twipsToPixels(defs::frmAbout.clientWidth),
                 rt::twipsToPixels(defs::frmAbout.clientHeight));
    // The design places the client area (Qt's geometry of a window excludes its frame).
    setGeometry(rt::twipsToPixels(defs::frmAbout.clientLeft),
                rt::twipsToPixels(defs::frmAbout.clientTop), width(), height());

    picIcon = new QLabel(this);
    picIcon->setPixmap(QIcon(QStringLiteral(":/pictures/program.ico")).pixmap(32, 32));
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picIcon->setFocusPolicy(Qt::TabFocus);
    defs::place(picIcon, def("picIcon"));

    lblTitle = defs::label(this, text("lblTitle"));
    lblTitle->setFont(defs::font(defs::frmAboutTitleFontPt, true, true));
    QPalette red = lblTitle->palette();
    red.setColor(QPalette::WindowText, defs::color(defs::frmAboutTitleColor));
    lblTitle->setPalette(red);
    lblTitle->setWordWrap(false);
    defs::place(lblTitle, def("lblTitle"));

    lblVersion = defs::label(this, text("lblVersion"));
    lblVersion->setWordWrap(false);
    defs::place(lblVersion, def("lblVersion"));

    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    lblDescription = defs::label(this, text("lblDescription"));
    lblDescription->setPalette(black);
    defs::place(lblDescription, def("lblDescription"));

    auto *Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameStyle(QFrame::NoFrame);
    Line1->setAutoFillBackground(true);
    QPalette grey = Line1->palette();
    grey.setColor(QPalette::Window, defs::color(defs::frmAboutLine1Color));
    Line1->setPalette(grey);
    const int *l = defs::frmAboutLine1;
    Line1->setGeometry(rt::twipsToPixels(l[0]), rt::twipsToPixels(l[1]),
                       rt::twipsToPixels(l[2] - l[0]), 1);

    // Created before the buttons, so that they are drawn above it.
    lblDisclaimer = defs::label(this, text("lblDisclaimer"));
    lblDisclaimer->setPalette(black);
    defs::place(lblDisclaimer, def("lblDisclaimer"));

    cmdOK = new QPushButton(text("cmdOK"), this);
    cmdOK->setDefault(true);
    defs::place(cmdOK, def("cmdOK"));
    cmdSysInfo = new QPushButton(text("cmdSysInfo"), this);
    cmdSysInfo->setAutoDefault(false);
    defs::place(cmdSysInfo, def("cmdSysInfo"));

    setTabOrder(cmdOK, picIcon);
    setTabOrder(picIcon, cmdSysInfo);

    connect(cmdOK, &QPushButton::clicked, this, [this] { rt::guard([this] { cmdOK_Click(); }); });
    connect(cmdSysInfo, &QPushButton::clicked, this,
            [this] { rt::guard([this] { cmdSysInfo_Click(); }); });

    winId();
    program_.services().windowShape->skipTaskbar(this);
}

void frmAbout::Show()
{
    cmdOK->setFocus();
    showWindow(this);
}

void frmAbout::closeEvent(QCloseEvent *event)
{
    // The close button unloads the box, like OK does.
    event->ignore();
    rt::guard([this] { program_.aboutSlot().unload(); });
}

void frmAbout::reject()
{
    cmdOK->click();
}

// --- handlers ------------------------------------------------------------------------------

void frmAbout::Form_Load()
{
    // 1.
    setWindowTitle(QStringLiteral("みぽ様ツールのバージョン情報"));
    // 2.
    const int16_t major = app_identity::Major, minor = app_identity::Minor,
                  revision = app_identity::Revision;
    lblVersion->setText(QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + QString::number(major) + u'.' +
                        QString::number(minor) + u'.' + QString::number(revision));
    // 3.
    lblTitle->setText(Program::Title());
}

void frmAbout::cmdOK_Click()
{
    program_.Form1().setEnabled(true);
    program_.Form2().setEnabled(true);
    program_.aboutSlot().unload();
}

void frmAbout::Form_Unload(int16_t &)
{
    program_.Form1().setEnabled(true);
    program_.Form2().setEnabled(true);
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::StartSysInfo()
{
    try {
        // 1.
        QString SysInfoPath;
        int32_t root = platform::Registry::HKEY_LOCAL_MACHINE;
        QString key = gREGKEYSYSINFO, value = gREGVALSYSINFO;
        if (GetKeyValue(root, key, value, SysInfoPath)) {
            // 2. Started as it is.
        } else {
            // 3.
            key = gREGKEYSYSINFOLOC;
            value = gREGVALSYSINFOLOC;
            if (!GetKeyValue(root, key, value, SysInfoPath))
                throw rt::RuntimeError(rt::ErrFileNotFound);
            if (program_.services()
                    .fileSystem->Dir(SysInfoPath + QStringLiteral("\\MSINFO32.EXE"))
                    .isEmpty())
                throw rt::RuntimeError(rt::ErrFileNotFound);
            SysInfoPath += QStringLiteral("\\MSINFO32.EXE");
        }
        // 4.
        program_.services().processStarter->Shell(SysInfoPath);
        return;
    } catch (const rt::RuntimeError &) {
    }
    // 5.
    program_.MsgBox(QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"), platform::vbOKOnly);
}

bool frmAbout::GetKeyValue(int32_t &KeyRoot, QString &KeyName, QString &SubKeyRef, QString &KeyVal)
{
    platform::Registry &reg = *program_.services().registry;
    int32_t hKey = 0;
    int32_t KeyValType = 0;
    bool result = false;
    // 1.
    if (reg.RegOpenKeyExA(KeyRoot, KeyName.toLocal8Bit(), 0, platform::Registry::KEY_ALL_ACCESS,
                          hKey) != platform::Registry::ERROR_SUCCESS) {
        KeyVal.clear();
    } else {
        // 2.
        QByteArray tmpVal(1024, '\0');
        int32_t KeyValSize = 1024;
        // 3.
        if (reg.RegQueryValueExA(hKey, SubKeyRef.toLocal8Bit(), 0, KeyValType, tmpVal,
                                 KeyValSize) != platform::Registry::ERROR_SUCCESS) {
            KeyVal.clear();
        } else {
            // 4. A value that fills the whole buffer has no end: invalid argument.
            const qsizetype end = tmpVal.indexOf('\0');
            if (end < 0) {
                reg.RegCloseKey(hKey);
                throw rt::RuntimeError(rt::ErrInvalidCall);
            }
            tmpVal.truncate(end);
            // 5.
            if (KeyValType == platform::Registry::REG_SZ) {
                KeyVal = QString::fromLocal8Bit(tmpVal);
            } else if (KeyValType == platform::Registry::REG_DWORD) {
                QString digits;
                for (qsizetype i = tmpVal.size() - 1; i >= 0; --i)
                    digits += QString::number(uchar(tmpVal[i]), 16).toUpper();
                // General formatting of a text leaves it as it is.
                KeyVal = QStringLiteral("&h") + digits;
            }
            result = true;
        }
    }
    // 6.
    reg.RegCloseKey(hKey);
    return result;
}
