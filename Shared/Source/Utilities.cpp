#include "Utilities.h"

#include <algorithm>
#include <cstring>

#include "Classes.h"
#include "Debug.h"
#include "SysUtils.h"
#include "Ticks.h"
#include "Version.h"

uint32_t ElapsedTicks(uint32_t since) {
    return GetTickCount() - since;
}

bool TicksPassed(uint32_t since, uint32_t interval) {
    return ElapsedTicks(since) > interval;
}

void AppendWithSeparator(std::string& text, std::string_view item, std::string_view separator) {
    if (text.empty()) {
        text = item;
    } else if (text.size() >= separator.size() &&
               std::string_view(text).substr(text.size() - separator.size()) == separator) {
        text += item;
    } else {
        text += separator;
        text += item;
    }
}

void GetOwnFileVersion(uint16_t& major, uint16_t& minor, uint16_t& release, uint16_t& build) {
    major = GC_VERSION_MAJOR;
    minor = GC_VERSION_MINOR;
    release = GC_VERSION_RELEASE;
    build = GC_VERSION_BUILD;
}

// --- TIntegerList ---

namespace {

[[noreturn]] void IndexError(int index) {
    throw EListError(Format("List index out of bounds (%d)", index));
}

} // namespace

int32_t TIntegerList::Items(int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return FItems[static_cast<size_t>(index)];
}

int TIntegerList::Add(int32_t value) {
    if (!FSorted) {
        FItems.push_back(value);
        return Count() - 1;
    }
    int index;
    if (Find(value, index)) {
        if (FDuplicates == dupIgnore) return index;
        if (FDuplicates == dupError)
            throw EListError(Format("List does not allow duplicates ($0%x)", unsigned(value)));
    }
    FItems.insert(FItems.begin() + index, value);
    return index;
}

void TIntegerList::Insert(int index, int32_t value) {
    if (FSorted) throw EListError("Cannot insert element in sorted list.");
    if (index < 0 || index > Count()) IndexError(index);
    FItems.insert(FItems.begin() + index, value);
}

void TIntegerList::Delete(int index) {
    if (index < 0 || index >= Count()) IndexError(index);
    FItems.erase(FItems.begin() + index);
}

void TIntegerList::Move(int from, int to) {
    if (FSorted) throw EListError("Cannot move elements in sorted list.");
    if (from == to) return;
    if (from < 0 || from >= Count()) IndexError(from);
    if (to < 0 || to >= Count()) IndexError(to);
    int32_t value = FItems[static_cast<size_t>(from)];
    FItems.erase(FItems.begin() + from);
    FItems.insert(FItems.begin() + to, value);
}

bool TIntegerList::Find(int32_t value, int& index) const {
    if (!FSorted)
        throw EAssertionFailed(Format(
            "Find only works on sorted lists! (Shared/Source/Utilities.cpp, line %d)", __LINE__));
    auto it = std::lower_bound(FItems.begin(), FItems.end(), value);
    index = static_cast<int>(it - FItems.begin());
    return it != FItems.end() && *it == value;
}

int TIntegerList::IndexOf(int32_t value) const {
    if (FSorted) {
        int index;
        return Find(value, index) ? index : -1;
    }
    auto it = std::find(FItems.begin(), FItems.end(), value);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

int TIntegerList::Remove(int32_t value) {
    int index = IndexOf(value);
    if (index >= 0) Delete(index);
    return index;
}

void TIntegerList::SetSorted(bool value) {
    if (value == FSorted) return;
    if (value) std::sort(FItems.begin(), FItems.end());
    FSorted = value;
}

std::string TIntegerList::AsText(std::string_view separator) const {
    std::string text;
    for (int32_t value : FItems) {
        text += IntToStr(value);
        text += separator;
    }
    return text;
}

void TIntegerList::SetText(std::string_view text) {
    Clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        Add(StrToInt(text.substr(start, end - start)));
        start = end;
        if (start < text.size() && text[start] == '\r') ++start;
        if (start < text.size() && text[start] == '\n') ++start;
    }
}

bool TIntegerList::LoadFromStream(TStream& stream) {
    Clear();
    for (;;) {
        uint8_t bytes[4];
        int64_t got = 0;
        while (got < 4) {
            int64_t n = stream.Read(bytes + got, 4 - got);
            if (n <= 0) break;
            got += n;
        }
        if (got == 0) return true;
        if (got < 4) return false;
        int32_t value;
        std::memcpy(&value, bytes, 4);
        Add(value);
    }
}

void TIntegerList::SaveToStream(TStream& stream) const {
    if (!FItems.empty())
        stream.WriteBuffer(FItems.data(), static_cast<int64_t>(FItems.size() * sizeof(int32_t)));
}
