// Reads arbitrary bytes as a "GetClients" object list with the model classes. Whatever the
// bytes, every failure is one of our exceptions; the objects read are written back as a list
// that reads again into the same objects and the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ClientList.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string Bytes(const TBufferProtocol& p) {
    return std::string(reinterpret_cast<const char*>(p.Data()), static_cast<size_t>(p.GetSize()));
}

// Reads list into objects and writes them back; false when the list is refused.
bool RoundTrip(const std::string& bytes, std::string& written, int& count) {
    TBufferProtocol list(32);
    list.WriteBuf(static_cast<int32_t>(bytes.size()), bytes.data());
    list.SetPosition(0);
    // The list owns the objects and lets go of each one its destruction reports, as the main
    // window's registry does (a panel frees its members).
    TSysObjectList objects;
    int32_t home;
    try {
        home = ReadClientList(list, CreateModelObject, [&](std::unique_ptr<TCustomSysObject> o) {
            objects.Add(std::move(o));
        });
    } catch (const Exception&) {
        return false;
    }
    TBufferProtocol out(32);
    WriteClientListHeader(out, home);
    for (int i = 0; i < objects.Count(); ++i)
        WriteClientListEntry(out, *objects.Items(i));
    written = Bytes(out);
    count = objects.Count();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string first, second;
    int firstCount = 0, secondCount = 0;
    if (!RoundTrip(std::string(reinterpret_cast<const char*>(data), size), first, firstCount))
        return 0;
    Check(RoundTrip(first, second, secondCount));
    Check(secondCount == firstCount);
    Check(second == first);
    return 0;
}
