// Queue hand-off between two threads, and the cost of asking a full queue whether it
// accepts (it must not grow with the number of objects held).
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "ZorvanInternal.h"

namespace {
class Blob : public ZVQueueObject {
  public:
    explicit Blob(int64_t size) : _size(size) {}
    int64_t dataSize() const override { return _size; }

  private:
    int64_t _size;
};
}  // namespace

static void BM_QueueHandOff(benchmark::State& state) {
    ZVQueue q;
    q.setLimit(kZVQueueNoLimit);
    const int64_t batch = 10000;
    for (auto _ : state) {
        std::thread consumer([&] {
            int64_t got = 0;
            while (got < batch)
                if (q.nextObject()) ++got;
        });
        for (int64_t i = 0; i < batch; ++i) q.addObject(std::make_shared<Blob>(4096));
        consumer.join();
    }
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_QueueHandOff)->UseRealTime();

static void BM_CanAcceptObject(benchmark::State& state) {
    ZVQueue q;
    for (int64_t i = 0; i < state.range(0); ++i) q.addObject(std::make_shared<Blob>(1024));
    for (auto _ : state) benchmark::DoNotOptimize(q.canAcceptObject());
}
BENCHMARK(BM_CanAcceptObject)->Arg(10)->Arg(10000);

BENCHMARK_MAIN();
