// The window title watcher in a Wayland session: one poll of TWindowsIterator
// over the live toplevel list of a private headless sway with 200 and 1,000
// toplevels (XWayland windows of one X client), against a peer measured in
// the same run:
//  - "fresh listing": a minimal client that connects, binds
//    zwlr_foreign_toplevel_manager_v1, receives every toplevel and title and
//    disconnects: what a poll would cost without the live list.
// Every poll looks for a title no window has, so each one reads all windows.
// Then 10,000 toplevels are opened and closed (100 at a time) under one
// source, and the source's list and the heap are compared with before.
// Run: bench_wayland_watch [--benchmark_repetitions=3
// --benchmark_report_aggregates_only=true]; it takes some minutes.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "basis/TStringCollection.h"
#include "main/TWindowsIterator.h"
#include "platform/windows/WaylandWindowSource.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/WaylandTestCompositor.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace {

const char* const MISSING_TITLE = "Verbindung zum Internet aktiv";
constexpr size_t BATCH = 100;

WaylandTestCompositor& compositor() {
  static WaylandTestCompositor sway(WaylandTestCompositor::Kind::Sway);
  return sway;
}

size_t listed(WaylandWindowSource& source) {
  return static_cast<size_t>(
      source.enumWindows(0, [](uint32_t, std::string_view, uintptr_t) { return true; }, 0));
}

// Brings the compositor to exactly `count` toplevels, 100 at a time (XWayland
// gives up when it is sent too many windows at once).
void sceneWith(size_t count) {
  static std::vector<std::vector<uint32_t>> batches;
  static std::unique_ptr<WaylandWindowSource> probe;
  WaylandTestCompositor& sway = compositor();
  if (probe == nullptr) probe = WaylandWindowSource::connect(sway.socket());
  while (batches.size() * BATCH > count) {
    sway.closeXWaylandWindows(batches.back());
    batches.pop_back();
  }
  while (batches.size() * BATCH < count) {
    batches.push_back(sway.openXWaylandWindows(BATCH));
    size_t want = batches.size() * BATCH;
    if (!childprocess::waitFor([&] { return listed(*probe) >= want; }, 120000)) std::abort();
  }
  if (!childprocess::waitFor([&] { return listed(*probe) == count; }, 120000)) std::abort();
  ::setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
}

void watcherPoll(benchmark::State& state) {
  sceneWith(static_cast<size_t>(state.range(0)));
  TStringCollection titles;
  titles.add(MISSING_TITLE);
  TWindowsIterator iterator(&titles, 0);
  for (auto _ : state) {
    if (iterator.findWindow()) state.SkipWithError("a window matched");
  }
}

// The fresh listing: everything a client without a live list must do.
struct Listing {
  zwlr_foreign_toplevel_manager_v1* manager = nullptr;
  std::vector<zwlr_foreign_toplevel_handle_v1*> handles;
  size_t titleBytes = 0;
};

void freshListing(benchmark::State& state) {
  sceneWith(static_cast<size_t>(state.range(0)));
  static const wl_registry_listener registryListener = {
      [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
        if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
          static_cast<Listing*>(data)->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
              wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, 3));
        }
      },
      [](void*, wl_registry*, uint32_t) {}};
  static const zwlr_foreign_toplevel_handle_v1_listener handleListener = {
      [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Listing*>(data)->titleBytes += std::strlen(title);
      },
      [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*, wl_array*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}};
  static const zwlr_foreign_toplevel_manager_v1_listener managerListener = {
      [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* listing = static_cast<Listing*>(data);
        listing->handles.push_back(handle);
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, listing);
      },
      [](void*, zwlr_foreign_toplevel_manager_v1*) {}};
  const std::string socket = compositor().socket();
  for (auto _ : state) {
    Listing listing;
    wl_display* display = wl_display_connect(socket.c_str());
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &listing);
    wl_display_roundtrip(display);
    zwlr_foreign_toplevel_manager_v1_add_listener(listing.manager, &managerListener, &listing);
    wl_display_roundtrip(display);
    if (listing.handles.size() != static_cast<size_t>(state.range(0))) state.SkipWithError("incomplete list");
    for (auto* handle : listing.handles) zwlr_foreign_toplevel_handle_v1_destroy(handle);
    zwlr_foreign_toplevel_manager_v1_stop(listing.manager);
    zwlr_foreign_toplevel_manager_v1_destroy(listing.manager);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    benchmark::DoNotOptimize(listing.titleBytes);
  }
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      bool counts = run.run_type == Run::RT_Iteration || run.aggregate_name == "median";
      if (!run.error_occurred && counts) {
        real[run.run_name.str()] = run.GetAdjustedRealTime();
        cpu[run.run_name.str()] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> real, cpu;  // in microseconds
};

// 10,000 toplevels opened and closed under one live list.
void churn(size_t total) {
  sceneWith(0);
  WaylandTestCompositor& sway = compositor();
  std::unique_ptr<WaylandWindowSource> source = WaylandWindowSource::connect(sway.socket());
  auto cycle = [&] {
    std::vector<uint32_t> windows = sway.openXWaylandWindows(BATCH);
    if (!childprocess::waitFor([&] { return listed(*source) == BATCH; }, 120000)) std::abort();
    sway.closeXWaylandWindows(windows);
    if (!childprocess::waitFor([&] { return listed(*source) == 0; }, 120000)) std::abort();
  };
  cycle();  // the connection's object table grows once
  malloc_trim(0);
  const size_t heapBefore = mallinfo2().uordblks;
  for (size_t done = BATCH; done < total; done += BATCH) cycle();
  malloc_trim(0);
  const size_t heapAfter = mallinfo2().uordblks;
  std::printf("\n%zu toplevels opened and closed: %zu tracked afterwards, heap in use %zu -> %zu bytes (%+lld)\n",
              total, source->trackedCount(), heapBefore, heapAfter,
              static_cast<long long>(heapAfter) - static_cast<long long>(heapBefore));
}

}  // namespace

int main(int argc, char** argv) {
  const int counts[] = {200, 1000};
  for (int count : counts) {
    benchmark::RegisterBenchmark("watcher", watcherPoll)->Arg(count)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("fresh_listing", freshListing)->Arg(count)->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%8s %14s %14s %14s %14s %12s %12s\n", "windows", "watcher cpu", "watcher real", "fresh cpu",
              "fresh real", "cpu ratio", "real ratio");
  for (int count : counts) {
    auto get = [&](std::map<std::string, double>& m, const char* name) {
      auto it = m.find(std::string(name) + "/" + std::to_string(count));
      return it != m.end() ? it->second : 0.0;
    };
    double wc = get(reporter.cpu, "watcher"), wr = get(reporter.real, "watcher");
    double fc = get(reporter.cpu, "fresh_listing"), fr = get(reporter.real, "fresh_listing");
    std::printf("%8d %12.1fus %12.1fus %12.1fus %12.1fus %11.3fx %11.3fx\n", count, wc, wr, fc, fr,
                fc > 0 ? wc / fc : 0.0, fr > 0 ? wr / fr : 0.0);
  }
  const char* churnCount = std::getenv("MORVANE_BENCH_CHURN");
  churn(churnCount != nullptr ? static_cast<size_t>(std::atoll(churnCount)) : 10000);
  benchmark::Shutdown();
  return 0;
}
