#include "jpeg_encoder/parallel.h"

#include <exception>
#include <thread>

namespace jpeg_encoder
{

void inParallel(const std::function<void()> &first, const std::function<void()> &second)
{
    std::thread other;
    try {
        other = std::thread(second);
    } catch (const std::exception &) {
        // No thread (memory or process limits): the work is done here instead.
    }
    try {
        first();
    } catch (...) {
        // A thread still running must be joined before anything unwinds past it.
        if (other.joinable())
            other.join();
        throw;
    }
    if (other.joinable())
        other.join();
    else
        second();
}

} // namespace jpeg_encoder
