#include "picture_files/common_dialog.h"

#include "core/runtime.h"

platform::FileChooser::Request CommonDialog::parseFilter(const QString &filter)
{
    platform::FileChooser::Request request;
    QStringList parts = filter.split(u'|');
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast(); // the trailing bar
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        request.descriptions << parts[i];
        QStringList patterns;
        for (const QString &p : parts[i + 1].split(u';'))
            if (!p.trimmed().isEmpty())
                patterns << p.trimmed();
        request.patterns << patterns;
    }
    return request;
}

void CommonDialog::ShowOpen()
{
    show(false);
}
void CommonDialog::ShowSave()
{
    show(true);
}

void CommonDialog::show(bool save)
{
    platform::FileChooser::Request request = parseFilter(Filter);
    request.save = save;
    request.selected = FilterIndex > 0 ? FilterIndex - 1 : 0;
    request.startPath = FileName;
    const std::optional<QString> chosen = chooser_->choose(request);
    rt::checkpoint();
    if (!chosen) {
        if (CancelError)
            throw rt::RuntimeError(rt::ErrCancel);
        return;
    }
    FileName = *chosen;
}
