#include "VektUtils.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "CodePage.h"
#include "SysUtils.h"

// --- TNotifyLink ---

TNotifyLink::TNotifyLink(void* owner)
    : FOwner(owner)
    , FAlive(std::make_shared<bool>(true)) {
    if (!owner) throw Exception("Owner must exist");
}

TNotifyLink::~TNotifyLink() {
    DestroyNotify();
    // Peers subscribed from inside the destroy callbacks still need their back entries gone.
    for (const TEntry& e : FEntries)
        if (e.Peer) e.Peer->RemovePeer(this);
    *FAlive = false;
}

int TNotifyLink::IndexOf(const TNotifyLink* peer) const {
    for (size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i].Peer == peer) return static_cast<int>(i);
    return -1;
}

void TNotifyLink::RemoveAt(int index) {
    if (FWalking > 0) {
        FEntries[index].Peer = nullptr;
        FNeedsCompact = true;
    } else {
        FEntries.erase(FEntries.begin() + index);
    }
}

void TNotifyLink::RemovePeer(const TNotifyLink* peer) {
    int i = IndexOf(peer);
    if (i >= 0) RemoveAt(i);
}

void TNotifyLink::Compact() {
    FEntries.erase(std::remove_if(FEntries.begin(), FEntries.end(),
                                  [](const TEntry& e) { return e.Peer == nullptr; }),
                   FEntries.end());
    FNeedsCompact = false;
}

int TNotifyLink::CountOf(const TNotifyLink& peer) const {
    int i = IndexOf(&peer);
    return i < 0 ? -1 : FEntries[i].Count;
}

int TNotifyLink::PeerCount() const {
    return static_cast<int>(std::count_if(FEntries.begin(), FEntries.end(),
                                          [](const TEntry& e) { return e.Peer != nullptr; }));
}

void TNotifyLink::Subscribe(TNotifyLink& listener) {
    if (&listener == this || FDestroying || listener.FDestroying) return;
    int i = IndexOf(&listener);
    if (i >= 0)
        ++FEntries[i].Count;
    else
        FEntries.push_back({&listener, 1});
    if (listener.IndexOf(this) < 0) listener.FEntries.push_back({this, 0});
}

void TNotifyLink::Unsubscribe(TNotifyLink& listener) {
    int i = IndexOf(&listener);
    if (i < 0) return;
    if (FEntries[i].Count > 0) --FEntries[i].Count;
    if (FEntries[i].Count > 0) return;
    int back = listener.IndexOf(this);
    if (back >= 0 && listener.FEntries[back].Count > 0)
        return; // the listener still notifies us: the pair stays
    RemoveAt(i);
    if (back >= 0) listener.RemoveAt(back);
}

void TNotifyLink::Deliver(TNotifyLink& receiver, TNotifyLink& sender, const TNotifyInfo& info) {
    if (!receiver.OnNotify || receiver.FDestroying) return;
    // A copy: the handler may replace the receiver's callback (or free the receiver) while it
    // runs.
    TOnNotify handler = receiver.OnNotify;
    try {
        handler(receiver, sender, info);
    } catch (const std::exception& e) {
        ApplicationHandleException(e);
    } catch (...) {
        ApplicationHandleException(Exception("Unknown exception in a notification handler"));
    }
}

void TNotifyLink::Notify(const TNotifyInfo& info) {
    if (FDestroying) return;
    std::shared_ptr<bool> alive = FAlive;
    ++FWalking;
    // Peers subscribed by a callback hear from the next notification on.
    size_t count = FEntries.size();
    for (size_t i = 0; i < count; ++i) {
        TEntry e = FEntries[i];
        if (!e.Peer || e.Count <= 0) continue;
        Deliver(*e.Peer, *this, info);
        if (!*alive) return; // a callback freed our owner
    }
    if (--FWalking == 0 && FNeedsCompact) Compact();
}

void TNotifyLink::ControlNotify(TVektControl* control, TVektNotify notify) {
    TNotifyInfo info;
    info.Kind = nkControlNotify;
    info.Control = control;
    info.Notify = notify;
    Notify(info);
}

void TNotifyLink::PropNotify(TCustomProp* prop, bool isBefore) {
    TNotifyInfo info;
    info.Kind = isBefore ? nkPropBeforeChanged : nkPropChanged;
    info.Prop = prop;
    Notify(info);
}

void TNotifyLink::DestroyNotify() {
    if (FDestroying) return;
    std::shared_ptr<bool> alive = FAlive;
    TNotifyInfo info;
    info.Kind = nkDestroy;
    FDestroying = true;
    if (OnNotify) {
        TOnNotify handler = OnNotify;
        try {
            handler(*this, *this, info);
        } catch (const std::exception& e) {
            ApplicationHandleException(e);
        }
        if (!*alive) return;
    }
    ++FWalking;
    for (size_t i = FEntries.size(); i-- > 0;) {
        if (i >= FEntries.size() || !FEntries[i].Peer) continue;
        TNotifyLink* peer = FEntries[i].Peer;
        Deliver(*peer, *this, info);
        if (!*alive) return;
        // The callback may have unhooked or freed the peer; only a pair still present is undone.
        if (i < FEntries.size() && FEntries[i].Peer == peer) {
            peer->RemovePeer(this);
            RemoveAt(static_cast<int>(i));
        }
    }
    --FWalking;
    for (const TEntry& e : FEntries)
        if (e.Peer) e.Peer->RemovePeer(this);
    FEntries.clear();
    FNeedsCompact = false;
}

// --- TIdPool ---

int TIdPool::Find(uint32_t id, size_t& insertAt) const {
    size_t lo = 0, hi = FRanges.size() / 2;
    // First range whose last ID is not below id.
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (FRanges[2 * mid + 1] < id)
            lo = mid + 1;
        else
            hi = mid;
    }
    insertAt = lo;
    if (lo < FRanges.size() / 2 && FRanges[2 * lo] <= id) return static_cast<int>(lo);
    return -1;
}

bool TIdPool::IsUsed(uint32_t id) const {
    size_t at;
    return id != 0 && Find(id, at) >= 0;
}

bool TIdPool::Use(uint32_t id) {
    if (id == 0) return false;
    size_t at;
    if (Find(id, at) >= 0) return false;
    size_t ranges = FRanges.size() / 2;
    bool joinPrevious = at > 0 && FRanges[2 * (at - 1) + 1] + 1 == id;
    bool joinNext = at < ranges && FRanges[2 * at] - 1 == id;
    if (joinPrevious && joinNext) {
        FRanges[2 * (at - 1) + 1] = FRanges[2 * at + 1];
        FRanges.erase(FRanges.begin() + 2 * at, FRanges.begin() + 2 * at + 2);
    } else if (joinPrevious) {
        FRanges[2 * (at - 1) + 1] = id;
    } else if (joinNext) {
        FRanges[2 * at] = id;
    } else {
        FRanges.insert(FRanges.begin() + 2 * at, {id, id});
    }
    return true;
}

void TIdPool::Release(uint32_t id) {
    size_t at;
    int i = Find(id, at);
    if (i < 0) return;
    uint32_t first = FRanges[2 * i], last = FRanges[2 * i + 1];
    if (first == last)
        FRanges.erase(FRanges.begin() + 2 * i, FRanges.begin() + 2 * i + 2);
    else if (id == first)
        FRanges[2 * i] = id + 1;
    else if (id == last)
        FRanges[2 * i + 1] = id - 1;
    else {
        FRanges[2 * i + 1] = id - 1;
        FRanges.insert(FRanges.begin() + 2 * i + 2, {id + 1, last});
    }
}

uint32_t TIdPool::NewId() {
    uint32_t id = 1;
    if (!FRanges.empty() && FRanges[0] == 1) {
        if (FRanges[1] == std::numeric_limits<uint32_t>::max()) return 0;
        id = FRanges[1] + 1;
    }
    Use(id);
    return id;
}
