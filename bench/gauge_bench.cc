// Inspection costs on the reference server: one simulated part (draw, measure, judge, count),
// the results message it becomes on the wire, the client's unpacking of the result record, and
// a software trigger through to the delivered message. The free-running rate tops out at
// 200 images per second, so each must stay well below 5 ms.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "engine/gauge_service.h"
#include "engine/part_gauge.h"
#include "link/server_message_ids.h"
#include "netmsg/lum_wire.h"
#include "vartree/tvar.h"

namespace {

void BM_InspectOnePart(benchmark::State& state) {
  CPartGauge inspection(1);
  double now = 0;
  for (auto _ : state) {
    auto report = inspection.Inspect(now += 50);
    benchmark::DoNotOptimize(report.image.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InspectOnePart);

void BM_EncodeResultsMessage(benchmark::State& state) {
  CPartGauge inspection(1);
  const auto report = inspection.Inspect(0);
  std::string bytes;
  for (auto _ : state) {
    CLumMsg message(kMsgResults);
    CLumVariant image(LUM_VT_IMAGE);
    image.AddImage(report.image.data(), static_cast<long>(report.image.size()), 640, 480, 8, 0);
    message.Add(std::move(image));
    message.Add(PackResultVar(report.record));
    bytes.clear();
    EncodeLumMsg(message, &bytes);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_EncodeResultsMessage);

void BM_UnPackResultVar(benchmark::State& state) {
  CPartGauge inspection(1);
  const CLumVariant packed = PackResultVar(inspection.Inspect(0).record);
  OZK_PROCESS_RESULTS out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(UnPackResultVar(packed, &out));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnPackResultVar);

// Trigger to delivery, with the tree written on the way: the software-triggered rate.
void BM_TriggerToDelivery(benchmark::State& state) {
  CtVar root;
  CDeviceParams params;
  params.AddStandardSet();
  params.Set(CGaugeService::kParamTriggerMode, 2, 0);  // software triggers only
  CGaugeService service(&root, &params, {});
  std::mutex mu;
  std::condition_variable cv;
  int64_t delivered = 0;
  service.AddClient(1, [&](CLumMsg*) {
    std::lock_guard lock(mu);
    ++delivered;
    cv.notify_one();
  });
  int64_t sent = 0;
  for (auto _ : state) {
    service.Trigger();
    ++sent;
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return delivered >= sent; });
  }
  service.Stop();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TriggerToDelivery)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
