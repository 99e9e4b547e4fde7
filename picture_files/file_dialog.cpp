#include "picture_files/file_dialog.h"

#include "core/runtime.h"

platform::FileChooser::Request FileDialog::parseFilter(const QString &filter)
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

void FileDialog::showOpen()
{
    show(false);
}
void FileDialog::showSave()
{
    show(true);
}

void FileDialog::show(bool save)
{
    platform::FileChooser::Request request = parseFilter(filter);
    request.save = save;
    request.selected = filterIndex > 0 ? filterIndex - 1 : 0;
    request.startPath = fileName;
    const std::optional<QString> chosen = chooser_->choose(request);
    rt::checkpoint();
    if (!chosen) {
        if (cancelRaisesError)
            throw rt::RuntimeError(rt::ErrCancel);
        return;
    }
    fileName = *chosen;
}
