#include "doubles/file_chooser.h"

namespace platform
{

std::optional<QString> FakeFileChooser::choose(const Request &request)
{
    requests.append(request);
    return answers.isEmpty() ? std::nullopt : answers.takeFirst();
}

} // namespace platform
