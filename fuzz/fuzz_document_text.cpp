// Loads arbitrary bytes as a whole document in the text form (and as a paste), as a drawing
// from the server or a file reaches the panel, then writes it back in both forms and reads
// that again. Whatever the input, failures must be our exceptions and a failed load must
// leave a new document.
#include <cstddef>
#include <cstdint>

#include "DocumentFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDocumentLoad(data, size, false);
    return 0;
}
