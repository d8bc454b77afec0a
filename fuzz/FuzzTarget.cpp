// One libFuzzer program; HALVIK_FUZZ_TARGET names the entry it drives.
#include "FuzzEntries.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto* target = halvik::fuzz::fuzzTarget(HALVIK_FUZZ_TARGET);
    if (!target)
        std::abort();
    if (!target->run(data, size))
        __builtin_trap();
    return 0;
}
