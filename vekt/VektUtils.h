#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Classes.h"
#include "Types.h"
#include "Variant.h"

class TCustomProp;
class TVektControl;

// How a control turns: Center in absolute document units, Rotate in degrees (positive turns
// counter-clockwise on the screen), Mirror a horizontal mirror applied before the rotation,
// KeepOrientation for controls that keep their own orientation and only move.
struct TTranslateInfo {
    TPoint Center;
    int32_t Rotate = 0;
    bool Mirror = false;
    bool KeepOrientation = false;
};

// What a control tells its panel and its subscribers. The order is fixed: the codes travel in
// notifications and are compared by value.
enum TVektNotify : uint8_t {
    fnName,
    fnID,
    fnRect,
    fnAnchorPoints,
    fnEditPoints,
    fnLinkPoints,
    fnOrder,
    fnParent,
    fnLoaded,
    fnLayers,
    fnSchemes,
    fnCreated,
    fnDestroyed,
    fnSelect,
    fnSelectPoint,
    fnScale,
    fnPan,
    fnChange,
};

enum TNotifyKind : uint8_t {
    nkDestroy = 1,
    nkPropBeforeChanged = 2,
    nkPropChanged = 3,
    nkControlNotify = 4,
};

struct TNotifyInfo {
    TNotifyKind Kind = nkDestroy;
    TCustomProp* Prop = nullptr;     // nkPropBeforeChanged, nkPropChanged
    TVektControl* Control = nullptr; // nkControlNotify
    TVektNotify Notify = fnChange;   // nkControlNotify
};

// The two-way subscription hub of one object (a control, a property, a property list or a
// panel). Subscribe(listener) on the notifying object's link makes notifications flow to the
// listener; the listener's link keeps a back entry (count 0) so that whichever side goes away
// first unhooks both. Links are not copyable: peers hold their addresses.
class TNotifyLink {
public:
    // Receives a notification on `link` (the receiving one) from `sender`.
    using TOnNotify =
        std::function<void(TNotifyLink& link, TNotifyLink& sender, const TNotifyInfo& info)>;

    // `owner` is the object the link belongs to; a link without one is refused with
    // "Owner must exist".
    explicit TNotifyLink(void* owner);
    ~TNotifyLink();
    TNotifyLink(const TNotifyLink&) = delete;
    TNotifyLink& operator=(const TNotifyLink&) = delete;

    void* Owner() const { return FOwner; }
    bool Destroying() const { return FDestroying; }

    TOnNotify OnNotify;

    void Subscribe(TNotifyLink& listener);
    void Unsubscribe(TNotifyLink& listener);

    void ControlNotify(TVektControl* control, TVektNotify notify);
    void PropNotify(TCustomProp* prop, bool isBefore);
    void Notify(const TNotifyInfo& info);
    // Announces that the owner is going away: first to this link's own OnNotify, then to every
    // peer, newest first, whatever the counts; every pair is removed. Runs once.
    void DestroyNotify();

    // The count this link keeps for `peer` (-1 when it does not list it).
    int CountOf(const TNotifyLink& peer) const;
    int PeerCount() const;

private:
    struct TEntry {
        TNotifyLink* Peer;
        int Count;
    };
    int IndexOf(const TNotifyLink* peer) const;
    void RemoveAt(int index);
    void RemovePeer(const TNotifyLink* peer);
    void Compact();
    static void Deliver(TNotifyLink& receiver, TNotifyLink& sender, const TNotifyInfo& info);

    void* FOwner;
    std::vector<TEntry> FEntries;
    // Entries removed while a notification walks the list are cleared and swept afterwards, so
    // callbacks may subscribe, unsubscribe or free peers freely.
    int FWalking = 0;
    bool FNeedsCompact = false;
    bool FDestroying = false;
    std::shared_ptr<bool> FAlive;
};

// The IDs in use: a sorted flat list of closed ranges (even positions start a range, odd ones
// end it). 0 is never an ID.
class TIdPool {
public:
    // The smallest ID from 1 up that is free; marks it used. 0 when all are taken.
    uint32_t NewId();
    // Marks an ID used; false (and no change) when it already is, or for 0.
    bool Use(uint32_t id);
    void Release(uint32_t id);
    bool IsUsed(uint32_t id) const;
    void Clear() { FRanges.clear(); }
    bool Empty() const { return FRanges.empty(); }
    const std::vector<uint32_t>& Ranges() const { return FRanges; }

private:
    // Index of the range holding id, or -1; `insertAt` gets the range index it would go before.
    int Find(uint32_t id, size_t& insertAt) const;
    std::vector<uint32_t> FRanges;
};

// The start of `line` matches `keyword` byte for byte over the shorter of the two lengths, so
// an empty line counts as "end". This is how the document reader recognises its keywords.
bool IsKeywordLine(std::string_view line, std::string_view keyword);

// A string as a value line writes it: in single quotes when it is not empty and starts with
// "(" or "{" or holds a character below "!" or a single quote. There is no escaping inside.
std::string QuotePropString(const std::string& value);

// How a value is laid out in the text form.
enum class TValueForm : uint8_t {
    Plain,   // one line; an empty or null value writes nothing
    Set,     // one line, the names in brackets
    StrList, // " = (" and one line per item, or " = ( )"
    Data,    // " = {" and 32 bytes of hexadecimal per line, or " = { }"
};
// The lines of one value as the text form writes them, each starting with pad.
void FormatValueLines(std::vector<std::string>& lines, const std::string& pad,
                      const std::string& name, const TVariant& value, TValueForm form);

// What one line (or binary record) read from a document stands for.
enum TFilerLineKind : uint8_t {
    lkValue,     // a property value line (record 5)
    lkEnd,       // "end" (record 7); an empty text line counts as one
    lkObject,    // "object Name: Class" (record 4)
    lkProperty,  // "property Name" (record 6)
    lkDocument,  // "document Name" (record 1)
    lkClipboard, // "clipboard" (record 2)
    lkLibrary,   // "library Name" (record 3)
};
// How a text line reads: the keyword rule of the reader (leading blanks ignored).
TFilerLineKind TextLineKind(std::string_view line);

// Who a filer works for; the panel reports progress by it.
enum TVektFilerProcess : uint8_t { ppUnknown, ppLoad, ppSave, ppCopy };

class TVektFiler;

// The binary form's coder: records of a command, keys and a payload, with a string table that
// writer and reader keep identically. Keys and texts are in the stream's code page inside the
// records and UTF-8 outside. Every size read from a record is checked against the record and
// against what the stream still holds before anything is allocated for it.
class TVektBinaryData {
public:
    enum TMode : uint8_t { bmIdle, bmReading, bmWriting };

    static constexpr size_t HeaderSize = 8;
    static constexpr size_t MaxStrings = 65536;
    static constexpr uint32_t TrimCount = 8192;

    enum : uint16_t {
        bcDocument = 1,
        bcClipboard = 2,
        bcLibrary = 3,
        bcObject = 4,
        bcValue = 5,
        bcProperty = 6,
        bcEnd = 7,
        bcTrim = 8,
        bcFinish = 9,
        bcExtension = 4096, // and above: reserved, read as an empty line
    };

    // Type codes of a value record's payload.
    enum : int32_t {
        vcEmpty = 0,
        vcNull = 1,
        vcSmallInt = 2,
        vcInteger = 3,
        vcSingle = 4,
        vcDouble = 5,
        vcCurrency = 6,
        vcDate = 7,
        vcBoolean = 11,
        vcShortInt = 16,
        vcByte = 17,
        vcWord = 18,
        vcLongWord = 19,
        vcInt64 = 20,
        vcString = 256,
        vcStrings = 512,
        vcBytes = 513,
    };

    explicit TVektBinaryData(TVektFiler& filer);
    TVektBinaryData(const TVektBinaryData&) = delete;
    TVektBinaryData& operator=(const TVektBinaryData&) = delete;

    TMode Mode() const { return FMode; }
    // Record 9 was read or written.
    bool Finished() const { return FFinished; }
    // Back to idle with a fresh table.
    void Reset();

    // --- Reading ---
    // The next record's header and keys; its payload stays unread until asked for. False when
    // the stream ends before a header; a header, key or payload that does not fit its record
    // or the stream raises "Stream read error". Record 8 trims the table here.
    bool ReadRecord();
    uint16_t Command() const { return FCommand; }
    int KeyCount() const { return static_cast<int>(FKeys.size()); }
    // The key's text; empty for a key the record does not have.
    const std::string& Key(int index) const;
    uint32_t RecordSize() const { return FSize; }
    // The value of a record 5: its type code, or -1 for a record without one or a code this
    // reader does not know (the payload is then passed over).
    int ReadValue(TVariant& value);
    // Passes over what is left of the payload.
    void SkipPayload();
    // The current record as its text line. False for a record that ends the input (command 9,
    // and commands without a line below 4096); command 9 also marks the coder finished.
    // A string list gives "Name = (" and queues its items as the lines that follow.
    bool RecordToLine(std::string& line);
    bool TakeQueuedLine(std::string& line);
    void DropQueuedLines() { FQueue.clear(), FQueuePos = 0; }
    // The typed value RecordToLine read for the current record 5 (once).
    bool TakeValue(TVariant& value);

    // Records read so far (the current one included) and where the current one starts.
    int64_t RecordNumber() const { return FRecordNumber; }
    int64_t RecordOffset() const { return FRecordOffset; }

    // --- Writing ---
    // Writes the magic line first when this is the first record of the section. Keys are UTF-8.
    void WriteRecord(uint16_t command, const std::vector<std::string>& keys,
                     const void* payload = nullptr, size_t payloadSize = 0);
    // A record 5 for a tagged value (type codes as in the table; any other type as its text).
    void WriteValue(const std::string& name, const TVariant& value);
    // A line of the text form as records. Raises "Stream write error" for a value line without
    // "=", an unterminated quote, or invalid hexadecimal data.
    void LineToRecords(std::string_view line);
    // Closes a section being written with record 9.
    void Finish();
    // A string list or byte block is still collecting its lines.
    bool Pending() const { return FPendingForm != TPending::None; }

    // The string table, for inspection: entries in index order (code page bytes).
    size_t StringCount() const { return FStrings.size(); }
    const std::string& StringAt(size_t index) const { return FStrings[index]; }

private:
    enum class TPending : uint8_t { None, StrList, Data };
    struct TKey {
        std::string Text; // code page
        bool Reference = false;
    };

    void BeginReading();
    uint32_t ReadKeyValue(uint8_t width);
    void AddString(const std::string& raw);
    void TrimStrings(uint32_t count);
    void ReadPayload();
    void WriteValueRecord(const std::string& name, int32_t code, const void* data, size_t size,
                          const std::string* text);
    void PutKey(std::string& out, const std::string& raw, bool literal);
    void FlushPending();

    TVektFiler& FFiler;
    TMode FMode = bmIdle;
    bool FFinished = false;
    std::vector<std::string> FStrings;
    // Writing: where each string stands in the table.
    std::unordered_map<std::string, uint32_t> FIndex;

    // The current record.
    uint16_t FCommand = 0;
    uint32_t FSize = 0;
    std::vector<std::string> FKeys; // UTF-8
    uint32_t FUnread = 0;           // payload bytes not read yet
    std::vector<uint8_t> FPayload;
    TVariant FValue;
    bool FHasValue = false;
    int64_t FRecordNumber = 0;
    int64_t FRecordOffset = 0;
    std::vector<std::string> FQueue;
    size_t FQueuePos = 0;

    // A string list or byte block of the text form being collected for record 5.
    TPending FPendingForm = TPending::None;
    std::string FPendingName;
    std::vector<TVariant> FPendingItems;
    std::vector<uint8_t> FPendingBytes;
};

// Reader and writer of documents over a stream, in the text form and the binary form. Text
// lines end with CR LF when written; when read, a line ends at CR or LF (a following different
// break character belongs to the same break) and leading spaces are skipped. A line
// "vektbinary" switches to the binary form until record 9. Lines are UTF-8 inside and the
// single-byte code page in the stream.
class TVektFiler {
public:
    static constexpr size_t BufferSize = 64 * 1024;
    enum : int { progressReading = 1, progressWriting = 2 };
    // percent: 0..100, reported when it changes; kind: progressReading (by bytes consumed) or
    // progressWriting (by objects written).
    using TOnProgress = std::function<void(TVektFiler& filer, int percent, int kind)>;

    explicit TVektFiler(TStream& stream);
    ~TVektFiler();
    TVektFiler(const TVektFiler&) = delete;
    TVektFiler& operator=(const TVektFiler&) = delete;

    TStream& Stream() { return FStream; }

    bool Binary() const { return FBinary; }
    // Entering the binary form creates or resets the coder; leaving it while a section is
    // being written closes the section with record 9.
    void SetBinary(bool value);
    // The coder; none before the binary form was first entered.
    TVektBinaryData* BinaryData() const { return FCoder.get(); }

    // The next line; in the binary form the next record as its line. False when the input is
    // exhausted before a line was read, and for a record that ends the input.
    bool ReadLine(std::string& line);
    // The next line for a document loader: passes over records that have no line (extensions,
    // values of unknown type, unknown commands) and raises "Stream read error" when the input
    // ends inside a binary section. False at the end of a text input.
    bool NextLine(std::string& line);
    // What the line read last stands for: by its record in the binary form, by its keyword in
    // the text form. `line` is only looked at for text.
    TFilerLineKind LineKind(std::string_view line) const;
    // The record behind the line read last (0 for a text line), and its keys.
    uint16_t RecordCommand() const { return FRecordCommand; }
    const std::string& RecordKey(int index) const;

    void WriteLine(std::string_view line);
    // Raw text lines (already in the stream's code page); in the binary form they are converted
    // line by line.
    void WriteBlock(const void* buffer, size_t count);

    // Skips to the "end" that closes the block whose opening line was just read: "object" and
    // "property" lines (records 4 and 6) open nested blocks.
    void SkipBlock();
    // When `line` opens a document, clipboard, library, object or property block, skips it.
    bool SkipIfBlock(std::string_view line);

    // Leaves the binary form (closing a section being written), goes back to the position the
    // filer was created at and resets the counters, so that what was written can be read.
    void Rewind();

    // Raw access below the line level, through the read buffer. ReadBuffer raises "Stream read
    // error" when the stream ends early; Skip likewise.
    void ReadBuffer(void* buffer, size_t count);
    // As many bytes as there are, up to count.
    size_t Read(void* buffer, size_t count);
    void Skip(uint64_t count);
    void WriteBuffer(const void* buffer, size_t count);
    // Bytes that can still be read.
    int64_t Remaining();

    // The typed value behind the value line read last, when it came from a binary record;
    // readers take it as it is instead of parsing the text. The text form has none.
    bool TakeValue(TVariant& value);

    // Progress.
    void SetSavedCount(int64_t count);
    void SetTotalCount(int64_t count);
    // One more object written.
    void ObjectSaved() { SetSavedCount(FSavedCount + 1); }
    int64_t SavedCount() const { return FSavedCount; }
    TOnProgress OnProgress;

    // Where the reader stands, for error messages ("line 12", "record 7 at byte 120").
    std::string Where() const;
    int LineNumber() const { return FLineNumber; }
    int64_t BytesRead() const { return FBytesRead; }
    // Bytes consumed from the start.
    int64_t Position() const { return FBytesRead - static_cast<int64_t>(FBufferFill - FBufferPos); }

private:
    friend class TVektBinaryData;
    bool FillBuffer();
    bool ReadTextLine(std::string& line);
    void ReportReading();
    void Report(int percent, int kind);

    TStream& FStream;
    int64_t FStart;
    std::unique_ptr<char[]> FBuffer;
    size_t FBufferFill = 0;
    size_t FBufferPos = 0;
    int64_t FBytesRead = 0;
    int64_t FReadTotal = 0;
    int FLineNumber = 0;
    bool FBinary = false;
    std::unique_ptr<TVektBinaryData> FCoder;
    uint16_t FRecordCommand = 0;
    bool FPassOver = false; // ReadLine met a record that ends the input but a loader passes over
    int64_t FSavedCount = 0;
    int64_t FTotalCount = 0;
    int FLastPercent = -1;
    int FLastKind = 0;
};
