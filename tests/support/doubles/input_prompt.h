#pragma once
// The input-prompt double.

#include "core/services.h"
#include "doubles/log.h"

#include <QList>
#include <optional>

namespace platform
{

class FakeInputPrompt : public InputPrompt
{
public:
    QString ask(const QString &prompt, const QString &title, const QString &defaultText) override;
    struct Call {
        QString prompt, title, defaultText;
    };
    QList<Call> calls;
    // The answer: the prefilled text when unset (OK on the untouched field).
    std::optional<QString> answer;
    Log log;
};

inline QString FakeInputPrompt::ask(const QString &prompt, const QString &title,
                                    const QString &defaultText)
{
    calls.append({prompt, title, defaultText});
    log(QStringLiteral("ask"));
    return answer.value_or(defaultText);
}

} // namespace platform
