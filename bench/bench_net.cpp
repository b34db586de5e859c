// The asynchronous socket's throughput: 100 MB over loopback to a reader
// thread, sent through TWSocket on the event loop (64 KB per Send, the next
// one from OnDataSent), against a plain blocking send loop of the same
// chunks in the same run. Prints both rates and their ratio.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "net/TWSocket.h"
#include "tests/net/LoopbackServer.h"

namespace {

constexpr int64_t TOTAL = 100LL * 1024 * 1024;
constexpr int32_t CHUNK = 64 * 1024;

// Accepts one connection and reads until the peer closes; returns the count.
std::thread startReader(LoopbackServer& server, std::atomic<int64_t>& received) {
  return std::thread([&server, &received] {
    int fd = server.accept(10000);
    if (fd < 0) return;
    static thread_local char buffer[256 * 1024];
    for (;;) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received += n;
    }
    ::close(fd);
  });
}

void twsocketTransfer(benchmark::State& state) {
  std::string chunk(CHUNK, 'm');
  for (auto _ : state) {
    LoopbackServer server;
    std::atomic<int64_t> received{0};
    std::thread reader = startReader(server, received);
    TWSocket socket;
    int64_t sent = 0;
    bool finished = false;
    auto sendMore = [&](TCustomWSocket* s, uint16_t) {
      if (sent >= TOTAL) {
        if (!finished) {
          finished = true;
          s->Close();
        }
        return;
      }
      s->Send(chunk.data(), CHUNK);
      sent += CHUNK;
    };
    socket.OnDataSent = sendMore;
    socket.SetAddr("127.0.0.1");
    socket.SetPort(server.portText());
    socket.Connect();
    while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    reader.join();
    if (received != TOTAL) state.SkipWithError("transfer incomplete");
  }
  state.SetBytesProcessed(state.iterations() * TOTAL);
}

void plainBlockingLoop(benchmark::State& state) {
  std::string chunk(CHUNK, 'm');
  for (auto _ : state) {
    LoopbackServer server;
    std::atomic<int64_t> received{0};
    std::thread reader = startReader(server, received);
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server.port());
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    for (int64_t sent = 0; sent < TOTAL; sent += CHUNK) writeAll(fd, chunk);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    reader.join();
    if (received != TOTAL) state.SkipWithError("transfer incomplete");
  }
  state.SetBytesProcessed(state.iterations() * TOTAL);
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;  // milliseconds
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::RegisterBenchmark("twsocket_100MB", twsocketTransfer)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);
  benchmark::RegisterBenchmark("plain_blocking_100MB", plainBlockingLoop)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double ours = reporter.times["twsocket_100MB/iterations:5/real_time"];
  double plain = reporter.times["plain_blocking_100MB/iterations:5/real_time"];
  if (ours > 0 && plain > 0)
    std::printf("\n100 MB over loopback: TWSocket %.0f MB/s, plain blocking loop %.0f MB/s, "
                "TWSocket/plain throughput %.2f\n",
                100e3 / ours, 100e3 / plain, plain / ours);
  benchmark::Shutdown();
  return 0;
}
