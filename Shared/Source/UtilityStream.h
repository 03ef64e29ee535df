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

// Deflates the bytes of source from its position to its end into dest (one zlib-format stream,
// header and checksum included). onProgress, when given, hears the share of the input done so
// far (0..100) as it changes.
void CompressStream(TStream& source, TStream& dest, int level = 9,
                    void (*onProgress)(int percent, void* context) = nullptr,
                    void* context = nullptr);

// The drawing payload and cache file, inflated: sections of a tag byte, a length (int64,
// little-endian) and that many bytes. Section 0 is the document.
void WriteDrawingSection(TStream& dest, uint8_t tag, const void* data, int64_t size);
// Walks the sections of an inflated payload from position 0 as the drawing loader does: an
// other section is skipped by the low 32 bits of its length. True when a section 0 was found;
// its bytes start at offset, and length is what its header says (not checked against the
// stream, which is the caller's to do).
bool FindDrawingDocument(TStream& inflated, int64_t& offset, int64_t& length);
