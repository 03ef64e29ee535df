#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
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

// Reader and writer of the document text form over a stream: lines end with CR LF when written;
// when read, a line ends at CR or LF (a following different break character belongs to the same
// break) and leading spaces are skipped. Lines are UTF-8 inside and the single-byte code page
// in the stream.
class TVektFiler {
public:
    static constexpr size_t BufferSize = 64 * 1024;

    explicit TVektFiler(TStream& stream);
    TVektFiler(const TVektFiler&) = delete;
    TVektFiler& operator=(const TVektFiler&) = delete;

    TStream& Stream() { return FStream; }

    // False when the input is exhausted before a line was read.
    bool ReadLine(std::string& line);
    void WriteLine(std::string_view line);
    // Raw text (already in the stream's code page), for blocks of lines written at once.
    void WriteBlock(const void* buffer, size_t count);

    // Skips to the "end" that closes the block whose opening line was just read: "object" and
    // "property" lines open nested blocks. Stops at the end of the input.
    void SkipBlock();
    // When `line` opens a document, clipboard, library, object or property block, skips it.
    bool SkipIfBlock(std::string_view line);

    // Back to the position the filer was created at, with the counters reset.
    void Rewind();

    // The typed value behind the value line ReadLine returned last, when that line came from a
    // record of the binary form; readers then take it as it is instead of parsing the text.
    // The text form has none.
    bool TakeValue(TVariant& value);

    // Where the reader stands, for error messages ("line 12").
    std::string Where() const;
    int LineNumber() const { return FLineNumber; }
    int64_t BytesRead() const { return FBytesRead; }

private:
    bool FillBuffer();

    TStream& FStream;
    int64_t FStart;
    std::unique_ptr<char[]> FBuffer;
    size_t FBufferFill = 0;
    size_t FBufferPos = 0;
    int64_t FBytesRead = 0;
    int FLineNumber = 0;
};
