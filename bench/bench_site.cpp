// Building a site from the object list: 50 panels, each with 8 partitions and 192 zones, read
// from records in random order, so most members arrive before their panel or partition and
// are found by the late binding. Reports objects per second and the peak heap of one build.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <random>
#include <vector>

#include "ClientList.h"
#include "ParadoxCommon.h"

// Heap accounting for this program: bytes in use and the highest mark since the last reset.
// GCC cannot see that the replaced operators pair malloc with free themselves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<int64_t> HeapInUse{0};
std::atomic<int64_t> HeapPeak{0};
void CountAllocation(void* p) {
    if (!p) return;
    int64_t now = HeapInUse += static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = HeapPeak.load();
    while (now > peak && !HeapPeak.compare_exchange_weak(peak, now)) {}
}
} // namespace

void* operator new(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    CountAllocation(p);
    return p;
}
void operator delete(void* p) noexcept {
    if (p) HeapInUse -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

namespace {

using Obj = TCustomSysObject;

constexpr int Panels = 50;
constexpr int PartitionsPerPanel = 8;
constexpr int ZonesPerPanel = 192;
constexpr int SiteObjects = Panels * (1 + PartitionsPerPanel + ZonesPerPanel);

// The list as the server would send it, entries shuffled with a fixed seed. Record sources are
// clones, which stay out of the registries.
const TBufferProtocol& SiteList() {
    static TBufferProtocol* list = [] {
        std::vector<std::unique_ptr<Obj>> objects;
        for (int p = 0; p < Panels; ++p) {
            int32_t panelId = 1 + p;
            auto panel = Obj::CreateClone<TParadoxPanel>(nullptr);
            panel->SetId(panelId);
            panel->SetName("Paneeli " + std::to_string(panelId));
            panel->SetConnection(4, "yhteys");
            objects.push_back(std::move(panel));
            for (int a = 0; a < PartitionsPerPanel; ++a) {
                auto partition = Obj::CreateClone<TParadoxPartition>(nullptr);
                partition->SetId(1000 + p * 10 + a);
                partition->SetName("Alue " + std::to_string(a + 1));
                partition->SetPanelId(panelId);
                partition->SetPartitionNumber(a + 1);
                objects.push_back(std::move(partition));
            }
            for (int z = 0; z < ZonesPerPanel; ++z) {
                auto zone = Obj::CreateClone<TParadoxZone>(nullptr);
                zone->SetId(100000 + p * 1000 + z);
                zone->SetName("Silmukka " + std::to_string(z + 1));
                zone->SetPanelId(panelId);
                zone->SetPartitionId(1000 + p * 10 + z % PartitionsPerPanel);
                zone->SetZoneNumber(static_cast<int16_t>(z + 1));
                objects.push_back(std::move(zone));
            }
        }
        std::shuffle(objects.begin(), objects.end(), std::mt19937(20240611));
        auto* l = new TBufferProtocol(32);
        WriteClientListHeader(*l, 1);
        for (auto& o : objects)
            WriteClientListEntry(*l, *o);
        return l;
    }();
    return *list;
}

void BuildSite(TBufferProtocol& list, TSysObjectList& site) {
    list.SetPosition(0);
    ReadClientList(list, CreateModelObject,
                   [&](std::unique_ptr<Obj> o) { site.Add(std::move(o)); });
}

void BM_BuildSiteInRandomOrder(benchmark::State& state) {
    TBufferProtocol list(32);
    list.WriteBuf(SiteList().GetSize(), SiteList().Data());
    // Once outside the timing: every member must have found its panel and partition.
    {
        TSysObjectList site;
        BuildSite(list, site);
        for (TParadoxZone* zone : ZoneRegistry().Items())
            if (!zone->Panel() || !zone->Partition())
                state.SkipWithError("a zone was left unlinked");
        for (TParadoxPanel* panel : PanelRegistry().Items())
            if (panel->Zones().Count() != ZonesPerPanel ||
                panel->Partitions().Count() != PartitionsPerPanel)
                state.SkipWithError("a panel lists the wrong members");
    }
    int64_t peak = 0;
    for (auto _ : state) {
        int64_t base = HeapInUse.load();
        HeapPeak = base;
        auto* site = new TSysObjectList;
        BuildSite(list, *site);
        peak = std::max(peak, HeapPeak.load() - base);
        state.PauseTiming();
        delete site;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * SiteObjects);
    state.counters["peak_heap_MiB"] = static_cast<double>(peak) / (1 << 20);
    state.counters["objects"] = SiteObjects;
}

// Freeing the same site, as the registry does before each rebuild.
void BM_FreeSite(benchmark::State& state) {
    TBufferProtocol list(32);
    list.WriteBuf(SiteList().GetSize(), SiteList().Data());
    for (auto _ : state) {
        state.PauseTiming();
        auto* site = new TSysObjectList;
        BuildSite(list, *site);
        state.ResumeTiming();
        delete site;
    }
    state.SetItemsProcessed(state.iterations() * SiteObjects);
}

} // namespace

BENCHMARK(BM_BuildSiteInRandomOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreeSite)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
