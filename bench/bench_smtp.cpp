// The SMTP client against aiosmtpd on loopback, beside curl and Python's
// smtplib sending the same bytes in the same run:
//   attachment  one mail carrying a 10 MB file (Open, Mail, Quit),
//   small       100 small mails, one connection each (Open, Mail, Quit).
// The peers get the exact message our client sent (captured once by a
// recording server). Prints the times and the ratios.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "smtp/TSmtpCli.h"
#include "tests/smtp/SmtpServers.h"
#include "tests/support/TempDir.h"

namespace {

TempDir& scratch() {
  static TempDir dir;
  return dir;
}

std::string attachmentPath() {
  static std::string path = [] {
    std::string bytes(10 * 1024 * 1024, '\0');
    uint32_t x = 7;
    for (auto& c : bytes) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    return scratch().write("attachment.bin", bytes);
  }();
  return path;
}

const std::vector<std::string> kSmallBody = {"Hello,", "this is a small test mail.", "Bye"};

// Sends `count` mails (Open, Mail, Quit each) and returns the seconds taken.
double sendWithClient(const std::string& port, int count, bool withAttachment) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    TSmtpCli smtp;
    smtp.SetHost("127.0.0.1");
    smtp.SetPort(port);
    smtp.SetSignOn("bench.test");
    smtp.SetFromName("sender@example.org");
    smtp.SetRcptName({"rcpt@example.org"});
    smtp.SetHdrFrom("sender@example.org");
    smtp.SetHdrTo("rcpt@example.org");
    smtp.SetHdrSubject("Benchmark");
    smtp.SetMailMessage(kSmallBody);
    if (withAttachment) smtp.SetEmailFiles({attachmentPath()});
    bool finished = false;
    int failures = 0;
    smtp.OnRequestDone = [&](TCustomSmtpClient* c, TSmtpRequest rq, uint16_t error) {
      if (error != 0) ++failures;
      if (error != 0 || rq == smtpQuit) finished = true;
      else if (rq == smtpOpen) c->Mail();
      else if (rq == smtpMail) c->Quit();
    };
    smtp.Open();
    while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (failures) return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The exact message bytes our client sends, as a server received them.
std::string capturedMessage(bool withAttachment) {
  AiosmtpdServer recorder;
  if (!recorder.running() || sendWithClient(recorder.portText(), 1, withAttachment) < 0) return "";
  return scratch().write(withAttachment ? "attachment.eml" : "small.eml", recorder.message(1));
}

std::string shellOutput(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    if (::pclose(p) != 0) return "";
  }
  return out;
}

double curlSeconds(const std::string& port, const std::string& file, int count) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    std::string command = "curl -s -S smtp://127.0.0.1:" + port +
                          " --mail-from sender@example.org --mail-rcpt rcpt@example.org --upload-file '" +
                          file + "' >/dev/null && echo ok";
    if (shellOutput(command) != "ok\n") return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double smtplibSeconds(const std::string& port, const std::string& file, int count) {
  std::string out = shellOutput("/usr/bin/python3 '" + std::string(MORVANE_SOURCE_DIR) + "/bench/smtp_peer.py' " +
                                port + " " + std::to_string(count) + " '" + file + "'");
  return out.empty() ? -1 : std::stod(out);
}

struct Workload {
  int count;
  bool attachment;
};

AiosmtpdServer* sink = nullptr;
std::map<bool, std::string> messages;

template <typename Fn>
void timed(benchmark::State& state, Fn run) {
  for (auto _ : state) {
    double seconds = run();
    if (seconds < 0) {
      state.SkipWithError("sending failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

void clientMails(benchmark::State& state, Workload w) {
  timed(state, [&] { return sendWithClient(sink->portText(), w.count, w.attachment); });
}
void curlMails(benchmark::State& state, Workload w) {
  timed(state, [&] { return curlSeconds(sink->portText(), messages[w.attachment], w.count); });
}
void smtplibMails(benchmark::State& state, Workload w) {
  timed(state, [&] { return smtplibSeconds(sink->portText(), messages[w.attachment], w.count); });
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double time(const std::string& prefix) const {
    for (const auto& [name, t] : times)
      if (name.rfind(prefix + "/", 0) == 0) return t;
    return 0;
  }
  std::map<std::string, double> times;  // milliseconds
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  messages[true] = capturedMessage(true);
  messages[false] = capturedMessage(false);
  if (messages[true].empty() || messages[false].empty()) {
    std::fprintf(stderr, "aiosmtpd did not start or the capture failed\n");
    return 1;
  }
  // The timed runs go to a server that accepts and forgets.
  AiosmtpdServer::Options discard;
  discard.discard = true;
  AiosmtpdServer server(discard);
  sink = &server;
  const Workload attachment{1, true}, small{100, false};
  auto reg = [](const char* name, void (*fn)(benchmark::State&, Workload), Workload w, int iterations) {
    benchmark::RegisterBenchmark(name, fn, w)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(iterations);
  };
  reg("attachment_10MB/client", clientMails, attachment, 5);
  reg("attachment_10MB/curl", curlMails, attachment, 5);
  reg("attachment_10MB/smtplib", smtplibMails, attachment, 5);
  reg("small_x100/client", clientMails, small, 5);
  reg("small_x100/smtplib", smtplibMails, small, 5);
  reg("small_x100/curl", curlMails, small, 2);
  benchmark::Initialize(&argc, argv);
  RatioReporter r;
  benchmark::RunSpecifiedBenchmarks(&r);

  double a = r.time("attachment_10MB/client"), ac = r.time("attachment_10MB/curl"),
         ap = r.time("attachment_10MB/smtplib");
  double s = r.time("small_x100/client"), sp = r.time("small_x100/smtplib"), sc = r.time("small_x100/curl");
  if (a > 0 && ac > 0 && ap > 0)
    std::printf("\n10 MB attachment: client %.0f ms, curl %.0f ms, smtplib %.0f ms; client/curl time %.2f, "
                "client/smtplib time %.2f\n", a, ac, ap, a / ac, a / ap);
  if (s > 0 && sp > 0 && sc > 0)
    std::printf("100 small mails: client %.2f ms/mail (%.0f/s), smtplib %.2f ms/mail (%.0f/s), "
                "curl %.2f ms/mail incl. process start; client/smtplib mails per second %.2f\n",
                s / 100, 1e5 / s, sp / 100, 1e5 / sp, sc / 100, sp / s);
  benchmark::Shutdown();
  return 0;
}
