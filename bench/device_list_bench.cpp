#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench_devices.h"

namespace zqn::bench {
namespace {

constexpr std::size_t kAppendEvery = 16;
// Prime, so the updates of a round visit lines spread over the whole list of any size used here.
constexpr std::size_t kSpreadStride = 7919;

// The devices heard in one round, replayed onto a fresh copy of a list of n devices: updates
// spread over the list and every sixteenth a new device, so the list stays within a sixteenth of a
// round above n lines.
std::vector<std::size_t> roundOf(std::size_t n)
{
    const std::size_t size = std::max<std::size_t>(n / 4, 256);
    std::vector<std::size_t> round(size);
    for (std::size_t j = 0; j < size; ++j)
        round[j] = j % kAppendEvery == kAppendEvery - 1 ? n + j : j * kSpreadStride % n;
    return round;
}

// The sighting is made afresh for every record, as the datagram handler does, so that it is in
// cache for a list of any size.
class SightingMaker {
public:
    SightingMaker() : sighting_(sightingOf(0, 0)) {}
    const discovery::Sighting& of(std::size_t device)
    {
        writeMac(sighting_.mac, device);
        return sighting_;
    }

private:
    discovery::Sighting sighting_;
};

void recordIntoList(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    const discovery::DeviceList base = deviceListOf(n);
    const auto round = roundOf(n);
    discovery::DeviceList list = base;
    SightingMaker maker;
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.record(maker.of(round[next])));
        if (++next == round.size()) {
            state.PauseTiming();
            list = base;
            next = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(recordIntoList)->Arg(100)->Arg(10'000)->Arg(100'000);

// New devices announced to a full list: refused, and no dearer than an update.
void recordRefusedAtTheCap(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    discovery::DeviceList list = deviceListOf(n);
    list.setCapacity(n);
    SightingMaker maker;
    std::size_t device = n;
    for (auto _ : state)
        benchmark::DoNotOptimize(list.record(maker.of(device++)));
    if (list.count() != n)
        state.SkipWithError("a device was recorded beyond the cap");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(recordRefusedAtTheCap)->Arg(100)->Arg(65'536)->Arg(100'000);

// A full list of n devices: a round of new devices (all refused) and a round of updates spread over
// the list, timed in turn in each iteration, so that the ratio is taken under the same machine load.
void refusedAgainstKnownAtTheCap(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    const auto n = static_cast<std::size_t>(state.range(0));
    discovery::DeviceList list = deviceListOf(n);
    list.setCapacity(n);
    const std::size_t roundSize = std::min<std::size_t>(n, 16'384);
    std::vector<std::size_t> known(roundSize);
    for (std::size_t j = 0; j < roundSize; ++j)
        known[j] = j * kSpreadStride % n;
    SightingMaker maker;
    std::size_t nextNew = n;
    Clock::duration refused{}, updated{};
    for (auto _ : state) {
        auto start = Clock::now();
        for (std::size_t j = 0; j < roundSize; ++j)
            benchmark::DoNotOptimize(list.record(maker.of(nextNew++)));
        const auto refusedSpent = Clock::now() - start;
        start = Clock::now();
        for (const std::size_t device : known)
            benchmark::DoNotOptimize(list.record(maker.of(device)));
        const auto updatedSpent = Clock::now() - start;
        refused += refusedSpent;
        updated += updatedSpent;
        state.SetIterationTime(std::chrono::duration<double>(refusedSpent + updatedSpent).count());
    }
    if (list.count() != n)
        state.SkipWithError("a device was recorded beyond the cap");
    const auto nsPerRecord = [&](Clock::duration spent) {
        return std::chrono::duration<double, std::nano>(spent).count()
               / static_cast<double>(state.iterations() * roundSize);
    };
    state.counters["ns_per_refused"] = nsPerRecord(refused);
    state.counters["ns_per_update"] = nsPerRecord(updated);
    state.counters["ratio_refused_to_update"] = nsPerRecord(refused) / nsPerRecord(updated);
}
BENCHMARK(refusedAgainstKnownAtTheCap)->Arg(65'536)->UseManualTime()->Unit(benchmark::kMillisecond);

// Record on 100 and on 100,000 devices measured side by side in each iteration, so that the ratio
// is taken under the same machine load.
void recordScaling(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    struct Size {
        discovery::DeviceList base;
        std::vector<std::size_t> round;
        std::size_t rounds;
        Clock::duration spent{};
        std::size_t records = 0;
    };
    auto large = Size{deviceListOf(100'000), roundOf(100'000), 1};
    auto small = Size{deviceListOf(100), roundOf(100), 0};
    small.rounds = large.round.size() / small.round.size();
    SightingMaker maker;

    for (auto _ : state) {
        Clock::duration iteration{};
        for (Size* size : {&small, &large}) {
            for (std::size_t r = 0; r < size->rounds; ++r) {
                discovery::DeviceList list = size->base;
                const auto start = Clock::now();
                for (const std::size_t device : size->round)
                    benchmark::DoNotOptimize(list.record(maker.of(device)));
                const auto spent = Clock::now() - start;
                size->spent += spent;
                iteration += spent;
                size->records += size->round.size();
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(iteration).count());
    }
    const auto nsPerRecord = [](const Size& size) {
        return std::chrono::duration<double, std::nano>(size.spent).count() / static_cast<double>(size.records);
    };
    state.counters["ns_per_record_100"] = nsPerRecord(small);
    state.counters["ns_per_record_100k"] = nsPerRecord(large);
    state.counters["ratio_100k_to_100"] = nsPerRecord(large) / nsPerRecord(small);
}
BENCHMARK(recordScaling)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zqn::bench
