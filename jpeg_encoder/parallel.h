#pragma once
// The encoder's two workers.

#include <functional>

namespace jpeg_encoder
{

// Runs both, the second on a thread of its own where one can be had.
void inParallel(const std::function<void()> &first, const std::function<void()> &second);

} // namespace jpeg_encoder
