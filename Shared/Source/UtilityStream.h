#pragma once

#include "Classes.h"
#include "Exception.h"

// The memory stream for everything received from the server or cached. Capacity requests are
// rounded up to 8192 bytes (a request equal to the current size is taken exactly); when the
// heap refuses, it raises EStreamError "Out of memory while expanding memory stream".
class TVelmarMemoryStream : public TMemoryStream {
protected:
    void* Realloc(int64_t& newCapacity) override;
};

// Receives the object list of "GetClients".
class TUtilityStream : public TVelmarMemoryStream {};

// zlib's error for a stream that does not inflate; the message is zlib's text ("Data error").
GC_DECLARE_EXCEPTION(EDecompressionError, Exception);

// Upper bound of one inflated stream. A drawing is a few tens of megabytes; a stream that
// inflates past this is refused rather than allowed to exhaust memory.
constexpr int64_t MaxInflatedSize = int64_t(1) << 30;

// Inflates the bytes of source from its position to its end (one zlib-format stream), writes
// them to dest and rewinds dest. Nothing is written to dest when inflation fails.
void DecompressStream(TStream& source, TVelmarMemoryStream& dest);
