// libFuzzer target: the encoder layer with arbitrary width, height, quality
// and surface contents.
#include "encoder_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!fuzz::runEncoder(data, size))
        __builtin_trap();
    return 0;
}
