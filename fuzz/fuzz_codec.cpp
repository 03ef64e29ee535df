// Plays arbitrary bytes to the codec as a mixed sequence of reads: the first byte of each step
// picks the reader, the rest of the input is the buffer. Whatever the bytes, every failure must
// be one of our exceptions and no read may leave the buffer.
#include <cstddef>
#include <cstdint>

#include "BaseProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t steps = data[0] % 32 + 1;
    if (size < 1 + steps) return 0;
    const uint8_t* ops = data + 1;
    TBufferProtocol p(32);
    p.WriteBuf(static_cast<int32_t>(size - 1 - steps), data + 1 + steps);
    p.SetPosition(0);
    ByteBlock block;
    TMemoryStream sink;
    for (size_t i = 0; i < steps; ++i) {
        try {
            switch (ops[i] % 16) {
            case 0: p.ReadSmallInt(); break;
            case 1: p.ReadInteger(); break;
            case 2: p.ReadInt64(); break;
            case 3: p.ReadByte(); break;
            case 4: p.ReadWord(); break;
            case 5: p.ReadLongWord(); break;
            case 6: p.ReadBoolean(); break;
            case 7: p.ReadString(); break;
            case 8: p.ReadDouble(); break;
            case 9: {
                // What was read must write back, and the value read from that must write the
                // same bytes again (bytes, not values: a NaN is not equal to itself).
                TVariant v = p.ReadVariant();
                TBufferProtocol first(64), second(64);
                first.WriteVariant(v);
                first.SetPosition(0);
                second.WriteVariant(first.ReadVariant());
                if (BuffersDiffer(first, second)) __builtin_trap();
                break;
            }
            case 10: p.ReadBlock(block); break;
            case 11: p.ReadStream(sink, true); break;
            case 12: p.SetPosition(ops[i] % (p.GetSize() + 1)); break;
            case 13: p.PatchInteger(ops[i], ops[i] % (p.GetSize() + 1)); break;
            case 14: p.SetSize(p.GetSize() / 2); break;
            case 15: p.ReadDateTime(); break;
            }
        } catch (const Exception&) {}
        if (p.Position() < 0 || p.Position() > p.GetSize()) __builtin_trap();
    }
    return 0;
}
