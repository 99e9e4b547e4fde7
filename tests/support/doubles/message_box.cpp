#include "doubles/message_box.h"

namespace platform
{

int FakeMessageBox::show(const QString &prompt, int style, const QString &title)
{
    calls.append({prompt, style, title});
    if (log)
        log->append(QStringLiteral("showMessage ") + prompt);
    if (onShow)
        onShow(calls.last());
    return answers.isEmpty() ? int(MessageAnswer::Ok) : answers.takeFirst();
}

} // namespace platform
