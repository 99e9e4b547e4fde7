#pragma once
// The file-dialog double: records each request and answers as scripted.

#include "core/services.h"

#include <QList>
#include <optional>

namespace platform
{

class FakeFileChooser : public FileChooser
{
public:
    std::optional<QString> choose(const Request &request) override;

    QList<Request> requests;
    QList<std::optional<QString>> answers; // taken in order; cancel once they run out
};

inline std::optional<QString> FakeFileChooser::choose(const Request &request)
{
    requests.append(request);
    return answers.isEmpty() ? std::nullopt : answers.takeFirst();
}

} // namespace platform
