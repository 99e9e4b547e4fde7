#pragma once
// The file dialog.

#include "core/services.h"

namespace platform
{

// Qt's own file dialog (the same on every desktop), with the program's
// own rules: no overwrite question, no default suffix, typed names of files
// that do not exist are accepted.
class QtFileChooser : public FileChooser
{
public:
    std::optional<QString> choose(const Request &request) override;
};

} // namespace platform
