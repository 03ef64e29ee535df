// Loads arbitrary records as a whole document in the binary form: the input follows the magic
// line, so every byte lands in the record reader. Whatever the
// input, failures must be our exceptions and a failed load must leave a new document.
#include <cstddef>
#include <cstdint>

#include "DocumentFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDocumentLoad(data, size, true);
    return 0;
}
