#include "platform/qt/message_box.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

namespace platform
{

int QtMessageBox::show(const QString &prompt, int style, const QString &title)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(prompt);
    box.setAccessibleDescription(prompt);
    // A name or a command in it can be copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    switch (style & 0x70) {
    case MessageStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageStyle::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageStyle::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageStyle::Information:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    struct Choice {
        QString text;
        QMessageBox::ButtonRole role;
        int answer;
    };
    QList<Choice> choices;
    switch (style & 7) {
    case MessageStyle::OkCancel:
        choices = {{QStringLiteral("OK"), QMessageBox::AcceptRole, MessageAnswer::Ok},
                   {QStringLiteral("キャンセル"), QMessageBox::RejectRole, MessageAnswer::Cancel}};
        break;
    case MessageStyle::YesNo:
        choices = {{QStringLiteral("はい(&Y)"), QMessageBox::YesRole, MessageAnswer::Yes},
                   {QStringLiteral("いいえ(&N)"), QMessageBox::NoRole, MessageAnswer::No}};
        break;
    default:
        choices = {{QStringLiteral("OK"), QMessageBox::AcceptRole, MessageAnswer::Ok}};
        break;
    }
    QList<QAbstractButton *> buttons;
    for (const Choice &c : choices)
        buttons << box.addButton(c.text, c.role);
    const int def = (style & MessageStyle::SecondButtonDefault) && buttons.size() > 1 ? 1 : 0;
    box.setDefaultButton(static_cast<QPushButton *>(buttons[def]));
    box.setEscapeButton(buttons.last());
    // Wide enough for its title beside the window manager's buttons, as a
    // message box sizes itself on other systems; Qt sizes it by its text only.
    const int titleWidth = box.fontMetrics().horizontalAdvance(title) + 160;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
    const int i = int(buttons.indexOf(box.clickedButton()));
    return choices[i < 0 ? int(choices.size()) - 1 : i].answer;
}

} // namespace platform
