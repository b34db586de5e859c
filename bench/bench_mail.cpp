// 100 error entries mailed through a channel's mail writer and its queue to
// aiosmtpd on loopback, beside a curl loop sending 100 mails of the same
// bytes (one connection each) in the same run. Prints mails per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "basis/BasisStartup.h"
#include "basis/TSystem.h"
#include "debug/DebugStartup.h"
#include "debug/TChannel.h"
#include "debug/TChannelPool.h"
#include "mail/TMailQueue.h"
#include "tests/smtp/SmtpServers.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int MAILS = 100;

AiosmtpdServer* sink = nullptr;
std::string capturedMail;

void configure(const TempDir& dir, const std::string& port) {
  dir.write("system.properties", "system.mail-enabled = true\nsystem.smtp-host.address = 127.0.0.1\n"
                                 "system.smtp-host.port = " + port + "\n"
                                 "system.from-header = Bench <bench@test.example>\n");
  std::ofstream debug(TSystem::getApplicationPath() + "debug.properties", std::ios::trunc);
  debug << "system.debug.errorsystemout = false\nsystem.debug.tracesystemout = false\n"
           "system.debug.mail.enabled = true\nbench.debug.error-mail.recipients = admin@test.example\n";
}

// Reports `count` errors and waits until every mail has left the queue.
double mailErrors(int count) {
  releaseDebug();
  startupDebug();
  TChannel* channel = TChannelPool::getChannel("bench");
  IOException cause("File 'missing.properties' not found.");
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) channel->error(&cause, "Bench.report: ", 1, nullptr);
  while (TMailQueue::pendingInAllQueues() > 0) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double curlSeconds(const std::string& port, const std::string& file, int count) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    std::string command = "curl -s -S smtp://127.0.0.1:" + port +
                          " --mail-from bench@test.example --mail-rcpt admin@test.example --upload-file '" +
                          file + "' >/dev/null";
    if (std::system(command.c_str()) != 0) return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int mailsReceived = 0;

void writerAndQueue(benchmark::State& state) {
  for (auto _ : state) {
    state.SetIterationTime(mailErrors(MAILS));
    // Every mail must have arrived, or the figure means nothing.
    mailsReceived += MAILS;
    for (int wait = 0; sink->message(mailsReceived).empty() && wait < 100; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (sink->message(mailsReceived).empty()) {
      state.SkipWithError("mails were lost");
      return;
    }
  }
}

void curlLoop(benchmark::State& state) {
  for (auto _ : state) {
    double seconds = curlSeconds(sink->portText(), capturedMail, MAILS);
    if (seconds < 0) {
      state.SkipWithError("curl failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  startupBasis();
  startupDebug();
  TempDir dir;
  if (::chdir(dir.path().c_str()) != 0) return 1;

  {  // The bytes one error mail carries, for the peer.
    AiosmtpdServer recorder;
    configure(dir, recorder.portText());
    mailErrors(1);
    capturedMail = dir.write("mail.eml", recorder.message(1));
  }
  AiosmtpdServer server;
  sink = &server;
  configure(dir, server.portText());

  benchmark::RegisterBenchmark("errors_x100/writer_and_queue", writerAndQueue)
      ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
  benchmark::RegisterBenchmark("errors_x100/curl", curlLoop)
      ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  releaseDebug();
  ::unlink((TSystem::getApplicationPath() + "debug.properties").c_str());
  return 0;
}
