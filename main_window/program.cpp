#include "main_window/program.h"

#include "about/frm_about.h"
#include "app_identity.h"
#include "info_window/form2.h"
#include "main_window/form1.h"
#include "platform/runtime.h"

Program::Program(platform::Services services)
    : services_(services), form1_(*this), form2_(*this), about_(*this)
{
}

Program::~Program() = default;

Form1 &Program::Form1()
{
    return form1_.get();
}
Form2 &Program::Form2()
{
    return form2_.get();
}
frmAbout &Program::frmAbout()
{
    return about_.get();
}

QString Program::Title()
{
    return QString::fromUtf8(app_identity::Title);
}

int Program::MsgBox(const QString &prompt, int style, const QString &title)
{
    const int answer = services_.messageBox->show(prompt, style, title.isEmpty() ? Title() : title);
    rt::checkpoint();
    return answer;
}

void Program::start()
{
    rt::guard([this] { Form1(); });
}
