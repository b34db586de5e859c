// One poll of the window title watcher over 10, 100 and 1,000 top-level
// windows on a private Xvfb, without and under a reparenting window manager
// (openbox), against two peers in the same run. The watcher's poll reads the
// X11 source's live list; the peers ask the server:
//  - "lower bound": the least a fresh pipelined xcb listing must do to read
//    the same title properties (root children, or the manager's client
//    list, then _NET_WM_NAME and WM_NAME of each window, all requests sent
//    before the first reply is read);
//  - "xdotool": `xdotool search --name` for a title no window has.
// Every poll looks for a title no window has, so each one reads all windows.
// "list_start" is what making the live list costs once, at connect.
// Run: bench_window_watch [--benchmark_repetitions=3
// --benchmark_report_aggregates_only=true]; it takes some minutes, most of
// them openbox placing 1,000 windows and xdotool walking its frames.

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "basis/TStringCollection.h"
#include "main/TWindowsIterator.h"
#include "platform/windows/X11WindowSource.h"
#include "tests/support/X11TestDisplay.h"

namespace {

const char* const MISSING_TITLE = "Verbindung zum Internet aktiv";

struct Scene {
  std::unique_ptr<X11TestDisplay> display;
  std::vector<uint32_t> windows;
};

// The display of a scene with exactly `count` titled, mapped windows made
// by this process (the manager's own windows come on top of them).
X11TestDisplay& sceneWith(bool managed, int count) {
  static Scene scenes[2];
  Scene& scene = scenes[managed ? 1 : 0];
  if (scene.display == nullptr) {
    scene.display = std::make_unique<X11TestDisplay>();
    if (managed) scene.display->startWindowManager();
  }
  X11TestDisplay& display = *scene.display;
  while (static_cast<int>(scene.windows.size()) > count) {
    display.destroyWindow(scene.windows.back());
    scene.windows.pop_back();
  }
  while (static_cast<int>(scene.windows.size()) < count) {
    char title[64];
    std::snprintf(title, sizeof title, "Bench window %04zu - a typical application title", scene.windows.size());
    scene.windows.push_back(display.createTitled(title));
  }
  if (managed) {
    for (uint32_t w : scene.windows) {
      if (!display.waitManaged(w, 20000)) std::abort();
    }
  }
  ::setenv("DISPLAY", display.name().c_str(), 1);
  return display;
}

void watcherPoll(benchmark::State& state, bool managed) {
  sceneWith(managed, static_cast<int>(state.range(0)));
  TStringCollection titles;
  titles.add(MISSING_TITLE);
  TWindowsIterator iterator(&titles, 0);
  for (auto _ : state) {
    if (iterator.findWindow()) state.SkipWithError("a window matched");
  }
}

// What the live list costs once, when the watcher is made at connect: the
// whole tree read down to the levels it follows.
void listStart(benchmark::State& state, bool managed) {
  X11TestDisplay& display = sceneWith(managed, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    X11WindowSource windows(display.name());
    benchmark::DoNotOptimize(windows.trackedCount());
  }
}

// Reads the title properties of `windows`, all requests first.
size_t readTitles(xcb_connection_t* c, const std::vector<xcb_window_t>& windows, xcb_atom_t netWmName,
                  xcb_atom_t utf8) {
  uint32_t units = (static_cast<uint32_t>(std::string(MISSING_TITLE).size()) + 3) / 4;
  std::vector<xcb_get_property_cookie_t> cookies;
  cookies.reserve(windows.size() * 2);
  for (xcb_window_t w : windows) {
    cookies.push_back(xcb_get_property(c, 0, w, netWmName, utf8, 0, units));
    cookies.push_back(xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, units));
  }
  size_t bytes = 0;
  for (xcb_get_property_cookie_t cookie : cookies) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply != nullptr) bytes += static_cast<size_t>(xcb_get_property_value_length(reply));
    std::free(reply);
  }
  return bytes;
}

void lowerBoundPoll(benchmark::State& state, bool managed) {
  X11TestDisplay& display = sceneWith(managed, static_cast<int>(state.range(0)));
  xcb_connection_t* c = xcb_connect(display.name().c_str(), nullptr);
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_atom_t netWmName = display.atom("_NET_WM_NAME");
  xcb_atom_t utf8 = display.atom("UTF8_STRING");
  xcb_atom_t clientList = display.atom("_NET_CLIENT_LIST_STACKING");
  for (auto _ : state) {
    std::vector<xcb_window_t> windows;
    if (managed) {
      xcb_get_property_reply_t* list = xcb_get_property_reply(
          c, xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, 1u << 20), nullptr);
      auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(list));
      windows.assign(ids, ids + xcb_get_property_value_length(list) / 4);
      std::free(list);
    } else {
      xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
      xcb_window_t* children = xcb_query_tree_children(tree);
      windows.assign(children, children + xcb_query_tree_children_length(tree));
      std::free(tree);
    }
    benchmark::DoNotOptimize(readTitles(c, windows, netWmName, utf8));
  }
  xcb_disconnect(c);
}

void xdotoolSearch(benchmark::State& state, bool managed) {
  sceneWith(managed, static_cast<int>(state.range(0)));
  std::string pattern = std::string("^") + MISSING_TITLE + "$";
  for (auto _ : state) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execlp("xdotool", "xdotool", "search", "--name", pattern.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) state.SkipWithError("xdotool did not run");
  }
}

// Keeps the real time of every benchmark so that the ratios can be printed
// after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // With --benchmark_repetitions the median stands for the benchmark.
      bool counts = run.run_type == Run::RT_Iteration || run.aggregate_name == "median";
      if (!run.error_occurred && counts) times[run.run_name.str()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;  // in milliseconds
};

}  // namespace

int main(int argc, char** argv) {
  const char* scenes[] = {"plain", "openbox"};
  const int counts[] = {10, 100, 1000};
  for (int managed = 0; managed < 2; ++managed) {
    for (int count : counts) {
      std::string suffix = std::string("/") + scenes[managed];
      bool m = managed != 0;
      benchmark::RegisterBenchmark(("watcher" + suffix).c_str(), watcherPoll, m)
          ->Arg(count)->UseRealTime()->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("lower_bound" + suffix).c_str(), lowerBoundPoll, m)
          ->Arg(count)->UseRealTime()->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("xdotool" + suffix).c_str(), xdotoolSearch, m)
          ->Arg(count)->UseRealTime()->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("list_start" + suffix).c_str(), listStart, m)
          ->Arg(count)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%-8s %7s %10s %12s %11s %18s %18s\n", "scene", "windows", "watcher", "lower bound", "xdotool",
              "watcher/lower", "xdotool/watcher");
  for (const char* scene : scenes) {
    for (int count : counts) {
      auto time = [&](const char* peer) {
        auto it = reporter.times.find(std::string(peer) + "/" + scene + "/" + std::to_string(count) +
                                      "/real_time");
        return it != reporter.times.end() ? it->second : 0.0;
      };
      double w = time("watcher"), l = time("lower_bound"), x = time("xdotool");
      if (w == 0.0) continue;
      std::printf("%-8s %7d %8.3fms %10.3fms %9.3fms %17.4fx %17.1fx\n", scene, count, w, l, x,
                  l > 0 ? w / l : 0.0, x / w);
    }
  }
  benchmark::Shutdown();
  return 0;
}
