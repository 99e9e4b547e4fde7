#include "doubles/input_prompt.h"

namespace platform
{

QString FakeInputPrompt::ask(const QString &prompt, const QString &title,
                             const QString &defaultText)
{
    calls.append({prompt, title, defaultText});
    log(QStringLiteral("ask"));
    return answer.value_or(defaultText);
}

} // namespace platform
