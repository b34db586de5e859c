// The diagnostics' two file writers against plain file work in the same run.
//
// trace: one channel->trace() per iteration to a text log (the channel as
// configured by "debug.properties": the text file only, default verbose
// mode), against a plain loop that opens the file, appends one line of the
// same length and closes it. Reported as lines per second and their ratio.
//
// binary write: the cost of the 1st, 10,000th and 100,000th entry written to
// a binary entry file by one long-lived writer (as a channel holds it),
// against two peers: the same read, append and store rewritten in place (no
// lock, no flush to disk, no crash safety) and a plain append of the entry's
// bytes to a file (what a write costs without any list to keep). The last
// column compares each write with the 1st one. On a disk the writer's
// flushes (two per write) dominate and swing with other disk traffic; with
// TMPDIR on a tmpfs the flushes cost nothing and the rest shows.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "basis/BasisStartup.h"
#include "basis/TFile.h"
#include "basis/TSystem.h"
#include "debug/DebugStartup.h"
#include "debug/TBinaryReader.h"
#include "debug/TBinaryWriter.h"
#include "debug/TChannel.h"
#include "debug/TChannelPool.h"
#include "debug/TDebugEntries.h"
#include "debug/TTraceEntry.h"

namespace {

const std::string kMessage = "open connection @Provider dial-up via ttyS0 (bench)";

std::string scratchDir() {
  static std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/morvane-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return dir;
}

std::string propertiesFile() { return TSystem::getApplicationPath() + "debug.properties"; }

void traceChannel(benchmark::State& state) {
  const std::string log = scratchDir() + "/channel.log";
  {
    std::ofstream out(propertiesFile(), std::ios::trunc);
    out << "bench.debug.tracesystemout = false\n"
           "bench.debug.errorsystemout = false\n"
           "bench.debug.tracefile = " << log << "\n";
  }
  TChannel* channel = TChannelPool::getChannel("bench");
  std::remove(propertiesFile().c_str());
  for (auto _ : state) channel->trace(kMessage);
  state.SetItemsProcessed(state.iterations());
  std::remove(log.c_str());
}

void plainAppend(benchmark::State& state) {
  const std::string log = scratchDir() + "/plain.log";
  // The same text a channel line has: time stamp, blank, channel, ": ", message.
  const std::string line = "08.12.2026 09:05:03.042 bench: " + kMessage + "\r\n";
  for (auto _ : state) {
    std::FILE* f = std::fopen(log.c_str(), "ab");
    if (f == nullptr) std::abort();
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
  state.SetItemsProcessed(state.iterations());
  std::remove(log.c_str());
}

TTraceEntry sampleEntry(int i) {
  return TTraceEntry(kMessage + " #" + std::to_string(i), "bench", 3, 0, 0.0, 46000.5);
}

// An entry file holding `count` entries, made once per count.
const std::string& fileWith(int count) {
  static std::map<int, std::string> files;
  auto it = files.find(count);
  if (it != files.end()) return it->second;
  std::string name = scratchDir() + "/base-" + std::to_string(count) + ".bin";
  TDebugEntries entries;
  for (int i = 0; i < count; ++i) entries.add(sampleEntry(i).clone().release());
  entries.store(name);
  return files.emplace(count, name).first->second;
}

// Times the write of entry number state.range(0) with `write`. The 1st write
// goes to a new file each time; later ones to a copy of a file holding n - 1
// entries, which then grows by one entry per iteration (the iteration counts
// below keep that growth small against n). One untimed write first, so a
// writer's one-time check of the file it finds is not counted.
template <class Write>
void nthWrite(benchmark::State& state, const char* name, Write write) {
  const int n = static_cast<int>(state.range(0));
  const std::string target = scratchDir() + "/" + name + ".bin";
  const TTraceEntry entry = sampleEntry(n);
  if (n > 1) {
    std::filesystem::copy_file(fileWith(n - 1), target, std::filesystem::copy_options::overwrite_existing);
    write(target, entry, false);
  }
  for (auto _ : state) {
    if (n == 1) {
      state.PauseTiming();
      std::remove(target.c_str());
      state.ResumeTiming();
    }
    write(target, entry, n == 1);
  }
  std::remove(target.c_str());
}

void binaryWriter(benchmark::State& state) {
  std::unique_ptr<TBinaryWriter> writer;
  nthWrite(state, "writer", [&writer](const std::string& file, const TTraceEntry& entry, bool fresh) {
    if (fresh || writer == nullptr) writer = std::make_unique<TBinaryWriter>(file);
    writer->write(entry);
  });
}

void inPlaceRewrite(benchmark::State& state) {
  nthWrite(state, "inplace", [](const std::string& file, const TTraceEntry& entry, bool) {
    std::unique_ptr<TDebugEntries> entries = std::filesystem::exists(file)
                                                 ? TBinaryReader(file).read()
                                                 : std::make_unique<TDebugEntries>();
    entries->add(entry.clone().release());
    entries->store(file);
  });
}

// The bytes an entry adds to an entry file: class name and sized record.
std::string recordBytes(TTraceEntry entry) {
  const std::string scratch = scratchDir() + "/record";
  {
    TFile out(scratch, true, "");
    out.writeTPObject(entry);
  }
  std::ifstream in(scratch, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(scratch.c_str());
  return bytes;
}

void appendRecord(benchmark::State& state) {
  const std::string bytes = recordBytes(sampleEntry(static_cast<int>(state.range(0))));
  nthWrite(state, "append", [&bytes](const std::string& file, const TTraceEntry&, bool) {
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      std::abort();
    }
    ::close(fd);
  });
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double time(const std::string& name) const {
    auto it = times.find(name);
    return it != times.end() ? it->second : 0.0;
  }
  std::map<std::string, double> times;  // in microseconds
};

}  // namespace

int main(int argc, char** argv) {
  startupBasis();
  startupDebug();
  // Medians of several runs: on a shared machine single runs of either
  // loop swing by a factor of two.
  for (auto [name, loop] : {std::pair{"trace_channel", &traceChannel}, std::pair{"plain_append", &plainAppend}}) {
    benchmark::RegisterBenchmark(name, loop)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
  }
  // Iterations per entry number: few enough that a file of n entries grows
  // by at most a few percent while it is measured.
  const std::pair<int, int> counts[] = {{1, 2000}, {10000, 200}, {100000, 40}};
  for (auto [n, iterations] : counts) {
    for (auto [name, function] : {std::pair{"binary_writer", &binaryWriter},
                                  std::pair{"in_place_rewrite", &inPlaceRewrite},
                                  std::pair{"append_record", &appendRecord}}) {
      benchmark::RegisterBenchmark(name, function)
          ->Arg(n)
          ->Iterations(iterations)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  double traced = reporter.time("trace_channel/repeats:5/real_time_median");
  double plain = reporter.time("plain_append/repeats:5/real_time_median");
  if (traced > 0 && plain > 0) {
    std::printf("\ntrace to a text file: %.0f lines/s, plain open/append/close: %.0f lines/s, "
                "ratio %.2fx (medians of 5)\n", 1e6 / traced, 1e6 / plain, plain / traced);
  }
  std::printf("\n%-8s %14s %16s %14s %16s %16s %14s\n", "entry", "binary writer",
              "in-place rewrite", "append record", "writer/in-place", "writer/append",
              "writer/1st");
  double first = 0.0;
  for (auto [n, iterations] : counts) {
    std::string arg = "/" + std::to_string(n) + "/iterations:" + std::to_string(iterations) +
                      "/real_time";
    double w = reporter.time("binary_writer" + arg), r = reporter.time("in_place_rewrite" + arg),
           a = reporter.time("append_record" + arg);
    if (w == 0.0) continue;
    if (n == 1) first = w;
    std::printf("%-8d %12.1fus %14.1fus %12.1fus %15.2fx %15.1fx %13.2fx\n", n, w, r, a,
                r > 0 ? w / r : 0.0, a > 0 ? w / a : 0.0, first > 0 ? w / first : 0.0);
  }
  releaseDebug();
  std::filesystem::remove_all(scratchDir());
  benchmark::Shutdown();
  return 0;
}
