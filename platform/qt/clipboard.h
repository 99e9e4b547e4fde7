#pragma once
// The clipboard's picture.

#include "core/services.h"

#include <chrono>

namespace platform
{

// The clipboard's picture; from another program, read within ImportTime in
// all, and under the picture loader's limits.
class QtClipboard : public Clipboard
{
public:
    QImage picture() override;
    void setPicture(const QImage &picture) override;

    static constexpr std::chrono::milliseconds ImportTime{3000};
};

} // namespace platform
