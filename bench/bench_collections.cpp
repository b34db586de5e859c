// THashSet and THashtable against std::unordered_set/unordered_map in the
// same run: add (put), get and remove of n elements with TInteger and TString
// keys, n = 1,000, 10,000 and 100,000. Reported as nanoseconds per operation
// and as the ratio ours / standard, in CPU time (the machine may be shared).
//
// add builds a container of n elements and releases it again (both sides
// allocate one node per element; ours also one object per key and value).
// get looks every key up once through a separate probe object. remove takes
// every key out of a freshly built container (the build is not timed).
//
// TString's hash code is the sum of its bytes, so the keys "k0" ... "k99999"
// fall on a few hundred hash codes whatever the bucket count. A third column
// runs std::unordered_set with that same byte-sum hash: it separates the cost
// of the hash function from the cost of the container.
//
// The string-keyed table (TStringtable, the base of the property tables) is
// measured the same way at 100,000 keys against two peers: a
// std::unordered_map<std::string, int32_t>, and one that holds the same
// value objects as ours (std::unique_ptr<TMappedObject>, a TInteger each),
// since a table of objects makes one object per value whatever its layout.
// The load of a properties file of n lines is measured against reading
// the same file into a std::unordered_map: the load must stay linear, so its
// cost per key should not grow with n (10,000, 40,000 and 160,000 keys).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "basis/BasisStartup.h"
#include "basis/THashSet.h"
#include "basis/THashtable.h"
#include "basis/TProperties.h"
#include "basis/TString.h"
#include "basis/TStringtable.h"
#include "basis/ValueObjects.h"

namespace {

const int SIZES[] = {1000, 10000, 100000};

std::string keyText(int i) { return "k" + std::to_string(i); }

TMappedObject* makeKey(bool text, int i) {
  if (text) return new TString(keyText(i));
  return new TInteger(i);
}

std::vector<std::unique_ptr<TMappedObject>> probes(bool text, int n) {
  std::vector<std::unique_ptr<TMappedObject>> all;
  all.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) all.emplace_back(makeKey(text, i));
  return all;
}

std::vector<std::string> texts(int n) {
  std::vector<std::string> all;
  for (int i = 0; i < n; ++i) all.push_back(keyText(i));
  return all;
}

// The hash TString uses: the sum of the bytes.
struct ByteSum {
  size_t operator()(const std::string& s) const noexcept {
    uint32_t sum = 0;
    for (unsigned char c : s) sum += c;
    return sum;
  }
};

void finish(benchmark::State& state, int n) { state.SetItemsProcessed(state.iterations() * n); }

// ---- THashSet

void setAdd(benchmark::State& state, bool text) {
  int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    THashSet set(true);
    for (int i = 0; i < n; ++i) set.add(makeKey(text, i));
    benchmark::DoNotOptimize(set.size());
  }
  finish(state, n);
}

void setGet(benchmark::State& state, bool text) {
  int n = static_cast<int>(state.range(0));
  THashSet set(true);
  for (int i = 0; i < n; ++i) set.add(makeKey(text, i));
  auto keys = probes(text, n);
  for (auto _ : state) {
    for (const auto& key : keys) benchmark::DoNotOptimize(set.get(key.get()));
  }
  finish(state, n);
}

void setRemove(benchmark::State& state, bool text) {
  int n = static_cast<int>(state.range(0));
  auto keys = probes(text, n);
  for (auto _ : state) {
    state.PauseTiming();
    auto set = std::make_unique<THashSet>(true);
    for (int i = 0; i < n; ++i) set->add(makeKey(text, i));
    state.ResumeTiming();
    for (const auto& key : keys) set->remove(key.get());
    state.PauseTiming();
    set.reset();
    state.ResumeTiming();
  }
  finish(state, n);
}

// ---- THashtable (values are TInteger)

void tablePut(benchmark::State& state, bool text) {
  int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    THashtable table(true);
    for (int i = 0; i < n; ++i) table.put(makeKey(text, i), new TInteger(i));
    benchmark::DoNotOptimize(table.size());
  }
  finish(state, n);
}

void tableGet(benchmark::State& state, bool text) {
  int n = static_cast<int>(state.range(0));
  THashtable table(true);
  for (int i = 0; i < n; ++i) table.put(makeKey(text, i), new TInteger(i));
  auto keys = probes(text, n);
  for (auto _ : state) {
    for (const auto& key : keys) benchmark::DoNotOptimize(table.get(key.get()));
  }
  finish(state, n);
}

void tableRemove(benchmark::State& state, bool text) {
  int n = static_cast<int>(state.range(0));
  auto keys = probes(text, n);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<THashtable>(true);
    for (int i = 0; i < n; ++i) table->put(makeKey(text, i), new TInteger(i));
    state.ResumeTiming();
    for (const auto& key : keys) benchmark::DoNotOptimize(table->remove(key.get()));
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  finish(state, n);
}

// ---- TStringtable (values are TInteger) and the load of a properties file

void stringtablePut(benchmark::State& state, const std::vector<std::string>& keys) {
  for (auto _ : state) {
    TStringtable table(true);
    int32_t i = 0;
    for (const std::string& key : keys) table.put(key, new TInteger(i++));
    benchmark::DoNotOptimize(table.size());
  }
  finish(state, static_cast<int>(keys.size()));
}

void stringtableGet(benchmark::State& state, const std::vector<std::string>& keys) {
  TStringtable table(true);
  int32_t i = 0;
  for (const std::string& key : keys) table.put(key, new TInteger(i++));
  for (auto _ : state) {
    for (const std::string& key : keys) benchmark::DoNotOptimize(table.get(key));
  }
  finish(state, static_cast<int>(keys.size()));
}

// A properties file of n "channel.key<i> = value <i>" lines, removed at exit.
class PropertiesFile {
 public:
  explicit PropertiesFile(int n) {
    char name[] = "/tmp/morvane-bench-XXXXXX";
    int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    path = name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < n; ++i) out << "channel.key" << i << " = value " << i << "\n";
  }
  ~PropertiesFile() { ::unlink(path.c_str()); }
  PropertiesFile(const PropertiesFile&) = delete;
  PropertiesFile& operator=(const PropertiesFile&) = delete;
  std::string path;
};

void propertiesLoad(benchmark::State& state, const PropertiesFile& file) {
  for (auto _ : state) {
    TProperties table(file.path);
    benchmark::DoNotOptimize(table.size());
  }
  finish(state, static_cast<int>(state.range(0)));
}

// The peer: the same lines split at " = " into a std::unordered_map.
void stdPropertiesLoad(benchmark::State& state, const PropertiesFile& file) {
  for (auto _ : state) {
    std::unordered_map<std::string, std::string> table;
    std::ifstream in(file.path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      size_t at = line.find(" = ");
      table[line.substr(0, at)] = line.substr(at + 3);
    }
    benchmark::DoNotOptimize(table.size());
  }
  finish(state, static_cast<int>(state.range(0)));
}

// ---- the standard containers, keyed by int or std::string

template <class Set>
void stdSetAdd(benchmark::State& state, const std::vector<typename Set::key_type>& keys) {
  for (auto _ : state) {
    Set set;
    for (const auto& key : keys) set.insert(key);
    benchmark::DoNotOptimize(set.size());
  }
  finish(state, static_cast<int>(keys.size()));
}

template <class Set>
void stdSetGet(benchmark::State& state, const std::vector<typename Set::key_type>& keys) {
  Set set(keys.begin(), keys.end());
  for (auto _ : state) {
    for (const auto& key : keys) benchmark::DoNotOptimize(set.find(key));
  }
  finish(state, static_cast<int>(keys.size()));
}

template <class Set>
void stdSetRemove(benchmark::State& state, const std::vector<typename Set::key_type>& keys) {
  for (auto _ : state) {
    state.PauseTiming();
    auto set = std::make_unique<Set>(keys.begin(), keys.end());
    state.ResumeTiming();
    for (const auto& key : keys) set->erase(key);
    state.PauseTiming();
    set.reset();
    state.ResumeTiming();
  }
  finish(state, static_cast<int>(keys.size()));
}

template <class Map>
void stdMapPut(benchmark::State& state, const std::vector<typename Map::key_type>& keys) {
  for (auto _ : state) {
    Map map;
    int32_t i = 0;
    for (const auto& key : keys) map[key] = i++;
    benchmark::DoNotOptimize(map.size());
  }
  finish(state, static_cast<int>(keys.size()));
}

// The peer holding the same value objects as TStringtable.
using ObjectMap = std::unordered_map<std::string, std::unique_ptr<TMappedObject>>;

void objectMapPut(benchmark::State& state, const std::vector<std::string>& keys) {
  for (auto _ : state) {
    ObjectMap map;
    int32_t i = 0;
    for (const std::string& key : keys) map[key].reset(new TInteger(i++));
    benchmark::DoNotOptimize(map.size());
  }
  finish(state, static_cast<int>(keys.size()));
}

void objectMapGet(benchmark::State& state, const std::vector<std::string>& keys) {
  ObjectMap map;
  int32_t i = 0;
  for (const std::string& key : keys) map[key].reset(new TInteger(i++));
  for (auto _ : state) {
    for (const std::string& key : keys) benchmark::DoNotOptimize(map.at(key).get());
  }
  finish(state, static_cast<int>(keys.size()));
}

template <class Map>
void stdMapGet(benchmark::State& state, const std::vector<typename Map::key_type>& keys) {
  Map map;
  for (const auto& key : keys) map[key] = 1;
  for (auto _ : state) {
    for (const auto& key : keys) benchmark::DoNotOptimize(map.at(key));
  }
  finish(state, static_cast<int>(keys.size()));
}

template <class Map>
void stdMapRemove(benchmark::State& state, const std::vector<typename Map::key_type>& keys) {
  for (auto _ : state) {
    state.PauseTiming();
    auto map = std::make_unique<Map>();
    for (const auto& key : keys) (*map)[key] = 1;
    state.ResumeTiming();
    for (const auto& key : keys) map->erase(key);
    state.PauseTiming();
    map.reset();
    state.ResumeTiming();
  }
  finish(state, static_cast<int>(keys.size()));
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Nanoseconds per operation.
  double perOp(const std::string& name, int n) const {
    auto it = times.lower_bound(name + "/" + std::to_string(n) + "/");
    return it != times.end() && it->first.rfind(name + "/" + std::to_string(n) + "/", 0) == 0 ? it->second / n
                                                                                          : 0.0;
  }
  std::map<std::string, double> times;  // per iteration, in nanoseconds
};

std::vector<int32_t> ints(int n) {
  std::vector<int32_t> all;
  for (int i = 0; i < n; ++i) all.push_back(i);
  return all;
}

const int TABLE_SIZE = 100000;
const int LOAD_SIZES[] = {10000, 40000, 160000};

void registerAll() {
  // The warm-up runs first: on a virtual machine the first touch of fresh
  // memory costs more than the containers themselves.
  auto add = [](const std::string& name, auto fn, int n) {
    benchmark::RegisterBenchmark(name.c_str(), fn)->Arg(n)->MinTime(0.2)->MinWarmUpTime(0.3);
  };
  {
    auto textKeys = std::make_shared<std::vector<std::string>>(texts(TABLE_SIZE));
    using TextMap = std::unordered_map<std::string, int32_t>;
    add("ours/stringtable_put", [textKeys](benchmark::State& s) { stringtablePut(s, *textKeys); }, TABLE_SIZE);
    add("ours/stringtable_get", [textKeys](benchmark::State& s) { stringtableGet(s, *textKeys); }, TABLE_SIZE);
    add("std/stringtable_put", [textKeys](benchmark::State& s) { stdMapPut<TextMap>(s, *textKeys); }, TABLE_SIZE);
    add("std/stringtable_get", [textKeys](benchmark::State& s) { stdMapGet<TextMap>(s, *textKeys); }, TABLE_SIZE);
    add("objects/stringtable_put", [textKeys](benchmark::State& s) { objectMapPut(s, *textKeys); }, TABLE_SIZE);
    add("objects/stringtable_get", [textKeys](benchmark::State& s) { objectMapGet(s, *textKeys); }, TABLE_SIZE);
  }
  for (int n : LOAD_SIZES) {
    auto file = std::make_shared<PropertiesFile>(n);
    add("ours/properties_load", [file](benchmark::State& s) { propertiesLoad(s, *file); }, n);
    add("std/properties_load", [file](benchmark::State& s) { stdPropertiesLoad(s, *file); }, n);
  }
  for (int n : SIZES) {
    auto intKeys = std::make_shared<std::vector<int32_t>>(ints(n));
    auto textKeys = std::make_shared<std::vector<std::string>>(texts(n));
    for (bool text : {false, true}) {
      std::string k = text ? "/string" : "/int";
      add("ours/set_add" + k, [text](benchmark::State& s) { setAdd(s, text); }, n);
      add("ours/set_get" + k, [text](benchmark::State& s) { setGet(s, text); }, n);
      add("ours/set_remove" + k, [text](benchmark::State& s) { setRemove(s, text); }, n);
      add("ours/table_put" + k, [text](benchmark::State& s) { tablePut(s, text); }, n);
      add("ours/table_get" + k, [text](benchmark::State& s) { tableGet(s, text); }, n);
      add("ours/table_remove" + k, [text](benchmark::State& s) { tableRemove(s, text); }, n);
    }
    using IntSet = std::unordered_set<int32_t>;
    using TextSet = std::unordered_set<std::string>;
    using SumSet = std::unordered_set<std::string, ByteSum>;
    using IntMap = std::unordered_map<int32_t, int32_t>;
    using TextMap = std::unordered_map<std::string, int32_t>;
    using SumMap = std::unordered_map<std::string, int32_t, ByteSum>;
    add("std/set_add/int", [intKeys](benchmark::State& s) { stdSetAdd<IntSet>(s, *intKeys); }, n);
    add("std/set_get/int", [intKeys](benchmark::State& s) { stdSetGet<IntSet>(s, *intKeys); }, n);
    add("std/set_remove/int", [intKeys](benchmark::State& s) { stdSetRemove<IntSet>(s, *intKeys); }, n);
    add("std/set_add/string", [textKeys](benchmark::State& s) { stdSetAdd<TextSet>(s, *textKeys); }, n);
    add("std/set_get/string", [textKeys](benchmark::State& s) { stdSetGet<TextSet>(s, *textKeys); }, n);
    add("std/set_remove/string", [textKeys](benchmark::State& s) { stdSetRemove<TextSet>(s, *textKeys); }, n);
    add("bytesum/set_add/string", [textKeys](benchmark::State& s) { stdSetAdd<SumSet>(s, *textKeys); }, n);
    add("bytesum/set_get/string", [textKeys](benchmark::State& s) { stdSetGet<SumSet>(s, *textKeys); }, n);
    add("bytesum/set_remove/string", [textKeys](benchmark::State& s) { stdSetRemove<SumSet>(s, *textKeys); }, n);
    add("std/table_put/int", [intKeys](benchmark::State& s) { stdMapPut<IntMap>(s, *intKeys); }, n);
    add("std/table_get/int", [intKeys](benchmark::State& s) { stdMapGet<IntMap>(s, *intKeys); }, n);
    add("std/table_remove/int", [intKeys](benchmark::State& s) { stdMapRemove<IntMap>(s, *intKeys); }, n);
    add("std/table_put/string", [textKeys](benchmark::State& s) { stdMapPut<TextMap>(s, *textKeys); }, n);
    add("std/table_get/string", [textKeys](benchmark::State& s) { stdMapGet<TextMap>(s, *textKeys); }, n);
    add("std/table_remove/string", [textKeys](benchmark::State& s) { stdMapRemove<TextMap>(s, *textKeys); }, n);
    add("bytesum/table_put/string", [textKeys](benchmark::State& s) { stdMapPut<SumMap>(s, *textKeys); }, n);
    add("bytesum/table_get/string", [textKeys](benchmark::State& s) { stdMapGet<SumMap>(s, *textKeys); }, n);
    add("bytesum/table_remove/string", [textKeys](benchmark::State& s) { stdMapRemove<SumMap>(s, *textKeys); }, n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  startupBasis();
  registerAll();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%-22s %8s %12s %12s %10s %14s %12s\n", "operation", "n", "ours ns/op", "std ns/op",
              "ours/std", "bytesum ns/op", "ours/bytesum");
  for (const char* op : {"set_add", "set_get", "set_remove", "table_put", "table_get", "table_remove"}) {
    for (const char* key : {"int", "string"}) {
      std::string name = std::string(op) + "/" + key;
      for (int n : SIZES) {
        double ours = reporter.perOp("ours/" + name, n);
        double peer = reporter.perOp("std/" + name, n);
        double sum = reporter.perOp("bytesum/" + name, n);
        if (ours == 0.0 || peer == 0.0) continue;
        std::printf("%-22s %8d %12.1f %12.1f %9.1fx", name.c_str(), n, ours, peer, ours / peer);
        if (sum > 0.0) std::printf(" %14.1f %11.1fx", sum, ours / sum);
        std::printf("\n");
      }
    }
  }
  std::printf("\n%-22s %8s %12s %12s %10s %14s %12s\n", "operation", "n", "ours ns/op", "std ns/op", "ours/std",
              "objects ns/op", "ours/objects");
  for (const char* op : {"stringtable_put", "stringtable_get"}) {
    double ours = reporter.perOp(std::string("ours/") + op, TABLE_SIZE);
    double peer = reporter.perOp(std::string("std/") + op, TABLE_SIZE);
    double objects = reporter.perOp(std::string("objects/") + op, TABLE_SIZE);
    if (ours > 0.0 && peer > 0.0) {
      std::printf("%-22s %8d %12.1f %12.1f %9.2fx", op, TABLE_SIZE, ours, peer, ours / peer);
      if (objects > 0.0) std::printf(" %14.1f %11.2fx", objects, ours / objects);
      std::printf("\n");
    }
  }
  for (int n : LOAD_SIZES) {
    double ours = reporter.perOp("ours/properties_load", n);
    double peer = reporter.perOp("std/properties_load", n);
    if (ours > 0.0 && peer > 0.0) {
      std::printf("%-22s %8d %12.1f %12.1f %9.2fx\n", "properties_load", n, ours, peer, ours / peer);
    }
  }
  benchmark::Shutdown();
  return 0;
}
