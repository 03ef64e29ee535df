// Arbitrary bytes as a compressed drawing: inflation either succeeds or raises our error and
// leaves the destination untouched.
#include <cstddef>
#include <cstdint>

#include "UtilityStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream source;
    source.WriteBuffer(data, static_cast<int64_t>(size));
    source.SetPosition(0);
    TVelmarMemoryStream dest;
    try {
        DecompressStream(source, dest);
    } catch (const EDecompressionError&) {
        if (dest.GetSize() != 0) __builtin_trap();
    }
    return 0;
}
