#pragma once
// The one file dialog the main window's commands share. Each use sets what it
// needs; the file name a use returns is where the next one starts.

#include "core/services.h"

#include <QString>

#include <cstdint>

class CommonDialog
{
public:
    explicit CommonDialog(platform::FileChooser *chooser) : chooser_(chooser) {}

    bool CancelError = false;
    QString Filter;          // "description|pattern|description|pattern|", patterns split by ";"
    int16_t FilterIndex = 0; // 1-based
    QString FileName;

    // Modal; with CancelError, Cancel raises the cancel error.
    void ShowOpen();
    void ShowSave();

    // Filter as entries: descriptions and each one's patterns.
    static platform::FileChooser::Request parseFilter(const QString &filter);

private:
    void show(bool save);
    platform::FileChooser *chooser_;
};
