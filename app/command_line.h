#pragma once
// The command line: a file to open in the window, or a run without windows
// (help, version, converting files).

#include <QString>

#include <optional>

namespace command_line
{
struct Start {
    // Set when the run is over without windows: the exit status.
    std::optional<int> status;
    // The file the windows open at start; may be empty.
    QString file;
};

// Reads the arguments; a run without windows is done here, before any display
// is needed.
Start run(int argc, char *argv[]);
} // namespace command_line
