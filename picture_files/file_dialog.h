#pragma once
// The one file dialog the main window's commands share. Each use sets what it
// needs; the file name a use returns is where the next one starts.

#include "core/services.h"

#include <QString>

#include <cstdint>

class FileDialog
{
public:
    explicit FileDialog(platform::FileChooser *chooser) : chooser_(chooser) {}

    bool cancelRaisesError = false;
    QString filter;          // "description|pattern|description|pattern|", patterns split by ";"
    int16_t filterIndex = 0; // 1-based
    QString fileName;

    // Modal; with cancelRaisesError, Cancel raises the cancel error.
    void showOpen();
    void showSave();

    // Filter as entries: descriptions and each one's patterns.
    static platform::FileChooser::Request parseFilter(const QString &filter);

private:
    void show(bool save);
    platform::FileChooser *chooser_;
};
