#pragma once
// The message box double: records each box and answers as scripted.

#include "core/services.h"

#include <QList>
#include <QString>
#include <functional>

namespace platform
{

class FakeMessageBox : public MessageBox
{
public:
    struct Call {
        QString prompt;
        int style;
        QString title;
    };
    int show(const QString &prompt, int style, const QString &title) override;

    QList<Call> calls;
    QList<int> answers; // taken in order; MessageAnswer::Ok once they run out
    std::function<void(const Call &)> onShow;
    QStringList *log = nullptr;
};

inline int FakeMessageBox::show(const QString &prompt, int style, const QString &title)
{
    calls.append({prompt, style, title});
    if (log)
        log->append(QStringLiteral("showMessage ") + prompt);
    if (onShow)
        onShow(calls.last());
    return answers.isEmpty() ? int(MessageAnswer::Ok) : answers.takeFirst();
}

} // namespace platform
