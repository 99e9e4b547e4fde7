#pragma once
// The clipboard's picture.

#include "core/services.h"

#include <chrono>

namespace platform
{

// The clipboard's picture; from another program, read within the import
// time in all, and under the picture loader's limits.
class QtClipboard : public Clipboard
{
public:
    explicit QtClipboard(std::chrono::milliseconds importTime = std::chrono::seconds(3))
        : importTime_(importTime)
    {
    }
    QImage picture() override;
    void setPicture(const QImage &picture) override;

private:
    std::chrono::milliseconds importTime_;
};

} // namespace platform
