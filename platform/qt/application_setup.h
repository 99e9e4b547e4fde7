#pragma once
// What Qt is told once at start: its texts' language, no settings file.

namespace platform
{

// Qt's own texts (its dialogs' buttons and labels) in Japanese, whatever the
// locale; false when Qt's translations are not installed.
bool installJapaneseQtTexts();
// Qt keeps no settings file of its own for this program.
void keepNoSettings();

} // namespace platform
