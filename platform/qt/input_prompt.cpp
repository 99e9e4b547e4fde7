#include "platform/qt/input_prompt.h"

#include <QInputDialog>
#include <QLineEdit>

#include <limits>

namespace platform
{

QString QtInputPrompt::ask(const QString &prompt, const QString &title, const QString &defaultText)
{
    QInputDialog dialog;
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setOkButtonText(QStringLiteral("OK"));
    // Wide enough for its title beside the window manager's buttons, as the
    // message boxes are (the dialog's layout sizes it by its contents).
    const int titleWidth = dialog.fontMetrics().horizontalAdvance(title) + 160;
    // A line edit keeps 32,767 characters unless told otherwise: a long address
    // goes on whole.
    if (auto *line = dialog.findChild<QLineEdit *>()) {
        line->setMaxLength(std::numeric_limits<int>::max());
        line->setMinimumWidth(titleWidth);
    }
    dialog.setCancelButtonText(QStringLiteral("キャンセル"));
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

} // namespace platform
