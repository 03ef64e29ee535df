#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TStream;

// Milliseconds since the tick `since`, in wrapping 32-bit arithmetic.
uint32_t ElapsedTicks(uint32_t since);
// True when more than `interval` milliseconds have passed since `since`.
bool TicksPassed(uint32_t since, uint32_t interval);

// Appends item to text, with the separator between them unless text is empty or already ends
// with it.
void AppendWithSeparator(std::string& text, std::string_view item, std::string_view separator);

// The program's file version, as the build stamped it.
void GetOwnFileVersion(uint16_t& major, uint16_t& minor, uint16_t& release, uint16_t& build);

enum TDuplicates : uint8_t { dupIgnore = 0, dupAccept = 1, dupError = 2 };

// An ordered list of 32-bit integers; sorted lists keep ascending order by binary insertion.
// Index and rule violations raise EListError.
class TIntegerList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    int32_t Items(int index) const;
    int32_t operator[](int index) const { return Items(index); }
    const std::vector<int32_t>& Values() const { return FItems; }

    // Returns the index of the value; on a sorted list a value already present is ignored
    // (dupIgnore, returning its index), inserted again (dupAccept) or refused (dupError).
    int Add(int32_t value);
    void Insert(int index, int32_t value);
    void Delete(int index);
    void Move(int from, int to);
    void Clear() { FItems.clear(); }

    // Binary search, for sorted lists only. With dupAccept, index is the first position not
    // less than value; otherwise the matching position, or where value would go.
    bool Find(int32_t value, int& index) const;
    int IndexOf(int32_t value) const;
    // Deletes the value's index and returns it, or -1 when the value is absent.
    int Remove(int32_t value);

    bool Sorted() const { return FSorted; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates value) { FDuplicates = value; }

    // The values in decimal, each followed by the separator.
    std::string AsText(std::string_view separator = "\r\n") const;
    std::string Text() const { return AsText(); }
    // Clears, then adds one value per line (lines end with CR, LF or CR LF); a line that is no
    // integer raises EConvertError.
    void SetText(std::string_view text);

    // Clears, then adds 4-byte little-endian values until the stream ends; false when 1 to 3
    // bytes were left over.
    bool LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;

private:
    std::vector<int32_t> FItems;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
};
