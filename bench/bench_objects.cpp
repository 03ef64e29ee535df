// Loading system objects from their records: the rate at which received records become
// objects (records per second), for fresh objects as the object list creates them and for
// reloads into one object, which take a snapshot first.
#include <benchmark/benchmark.h>

#include <string>

#include "ClientList.h"
#include "MonCommon.h"

namespace {

using Obj = TCustomSysObject;

constexpr int ServiceRecords = 100'000;

// 100 000 service records back to back, each with its own id, name and state.
const TBufferProtocol& ServiceRecordStream() {
    static TBufferProtocol* records = [] {
        auto* p = new TBufferProtocol(64);
        for (int i = 0; i < ServiceRecords; ++i) {
            auto s = Obj::Create<TSysService>();
            s->SetId(i + 1);
            s->SetName("Palvelu " + std::to_string(i));
            s->SetValue1(static_cast<uint16_t>(i));
            s->SetTime1(45000.0 + i / 1440.0);
            s->SetInfo("palvelin " + std::to_string(i % 17));
            s->SetOnline(i % 3 != 0);
            s->SetStatusText(i % 3 ? "yhdistetty" : "offline");
            s->WriteToProtocol(*p);
        }
        return p;
    }();
    return *records;
}

void BM_LoadFreshServices(benchmark::State& state) {
    const TBufferProtocol& records = ServiceRecordStream();
    TBufferProtocol p(64);
    p.WriteBuf(records.GetSize(), records.Data());
    for (auto _ : state) {
        p.SetPosition(0);
        for (int i = 0; i < ServiceRecords; ++i) {
            auto s = Obj::CreateReceived<TSysService>();
            s->LoadFromProtocol(p);
            benchmark::DoNotOptimize(s.get());
        }
    }
    state.SetItemsProcessed(state.iterations() * ServiceRecords);
}

void BM_ReloadOneService(benchmark::State& state) {
    const TBufferProtocol& records = ServiceRecordStream();
    TBufferProtocol p(64);
    p.WriteBuf(records.GetSize(), records.Data());
    auto s = Obj::CreateReceived<TSysService>();
    for (auto _ : state) {
        p.SetPosition(0);
        for (int i = 0; i < ServiceRecords; ++i)
            s->LoadFromProtocol(p);
    }
    state.SetItemsProcessed(state.iterations() * ServiceRecords);
}

void BM_ReadServiceList(benchmark::State& state) {
    TBufferProtocol list(32);
    WriteClientListHeader(list, 1);
    for (int i = 0; i < ServiceRecords; ++i) {
        auto s = Obj::Create<TSysService>();
        s->SetId(i + 1);
        s->SetName("Palvelu " + std::to_string(i));
        WriteClientListEntry(list, *s);
    }
    for (auto _ : state) {
        list.SetPosition(0);
        int count = 0;
        ReadClientList(list, CreateModelObject, [&](std::unique_ptr<Obj>) { ++count; });
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations() * ServiceRecords);
}

} // namespace

BENCHMARK(BM_LoadFreshServices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReloadOneService)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadServiceList)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
