// The SMTP client against aiosmtpd on loopback, beside curl and Python's
// smtplib sending the same bytes in the same run:
//   attachment      one mail carrying a 10 MB file (Open, Mail, Quit),
//   small           100 small mails, one connection each (Open, Mail, Quit),
//   and the same through a provider's kind of server (a certificate of the
//   benchmark's own CA, a login required over TLS):
//   attachment_tls  the 10 MB mail over TLS from the first byte, with login,
//   starttls_login  100 small mails, each EHLO, STARTTLS, EHLO, AUTH.
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

const std::vector<std::string> SMALL_BODY = {"Hello,", "this is a small test mail.", "Bye"};
const char* const LOGIN = "bench";
const char* const PASSWORD = "bench password";

// Sends `count` mails (Open, Mail, Quit each) and returns the seconds taken;
// over TLS it logs in.
double sendWithClient(const std::string& port, int count, bool withAttachment,
                      TSmtpSecurity security = smtpSecurityNone) {
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
    smtp.SetMailMessage(SMALL_BODY);
    if (withAttachment) smtp.SetEmailFiles({attachmentPath()});
    if (security != smtpSecurityNone) {
      smtp.SetSecurity(security);
      smtp.SetCaFile(TestCertificates::get().ca());
      smtp.SetUsername(LOGIN);
      smtp.SetPassword(PASSWORD);
    }
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

double curlSeconds(const std::string& port, const std::string& file, int count, bool tls = false) {
  const std::string scheme = tls ? "smtps" : "smtp";
  const std::string login = tls ? " --cacert '" + TestCertificates::get().ca() + "' --user '" + LOGIN + ":" + PASSWORD + "'" : "";
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    std::string command = "curl -s -S " + scheme + "://127.0.0.1:" + port + login +
                          " --mail-from sender@example.org --mail-rcpt rcpt@example.org --upload-file '" +
                          file + "' >/dev/null && echo ok";
    if (shellOutput(command) != "ok\n") return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double smtplibSeconds(const std::string& port, const std::string& file, int count, bool starttls = false) {
  const std::string login =
      starttls ? " --starttls '" + TestCertificates::get().ca() + "' --login '" + LOGIN + ":" + PASSWORD + "'" : "";
  std::string out = shellOutput("/usr/bin/python3 '" + std::string(MORVANE_SOURCE_DIR) + "/bench/smtp_peer.py' " +
                                port + " " + std::to_string(count) + " '" + file + "'" + login);
  return out.empty() ? -1 : std::stod(out);
}

struct Workload {
  int count;
  bool attachment;
  TSmtpSecurity security = smtpSecurityNone;
};

// The plain sink, and the sinks with a certificate and a login required:
// one with STARTTLS, one with TLS from the first byte.
AiosmtpdServer* sink = nullptr;
AiosmtpdServer* starttlsSink = nullptr;
AiosmtpdServer* tlsSink = nullptr;

AiosmtpdServer& sinkFor(TSmtpSecurity security) {
  return security == smtpSecurityStartTls ? *starttlsSink : security == smtpSecurityTls ? *tlsSink : *sink;
}
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
  timed(state, [&] { return sendWithClient(sinkFor(w.security).portText(), w.count, w.attachment, w.security); });
}
void curlMails(benchmark::State& state, Workload w) {
  timed(state, [&] {
    return curlSeconds(sinkFor(w.security).portText(), messages[w.attachment], w.count, w.security == smtpSecurityTls);
  });
}
void smtplibMails(benchmark::State& state, Workload w) {
  timed(state, [&] {
    return smtplibSeconds(sinkFor(w.security).portText(), messages[w.attachment], w.count,
                          w.security == smtpSecurityStartTls);
  });
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
  if (!TestCertificates::get().ready()) {
    std::fprintf(stderr, "openssl could not make the certificates\n");
    return 1;
  }
  AiosmtpdServer::Options provider = discard;
  provider.certificate = "server";
  provider.login = std::string(LOGIN) + ":" + PASSWORD;
  provider.starttls = true;
  AiosmtpdServer starttlsServer(provider);
  provider.starttls = false;
  provider.smtps = true;
  AiosmtpdServer tlsServer(provider);
  starttlsSink = &starttlsServer;
  tlsSink = &tlsServer;
  const Workload attachment{1, true}, small{100, false};
  const Workload attachmentTls{1, true, smtpSecurityTls}, smallStartTls{100, false, smtpSecurityStartTls};
  auto reg = [](const char* name, void (*fn)(benchmark::State&, Workload), Workload w, int iterations) {
    benchmark::RegisterBenchmark(name, fn, w)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(iterations);
  };
  reg("attachment_10MB/client", clientMails, attachment, 5);
  reg("attachment_10MB/curl", curlMails, attachment, 5);
  reg("attachment_10MB/smtplib", smtplibMails, attachment, 5);
  reg("small_x100/client", clientMails, small, 5);
  reg("small_x100/smtplib", smtplibMails, small, 5);
  reg("small_x100/curl", curlMails, small, 2);
  reg("attachment_tls_10MB/client", clientMails, attachmentTls, 5);
  reg("attachment_tls_10MB/curl", curlMails, attachmentTls, 5);
  reg("starttls_login_x100/client", clientMails, smallStartTls, 5);
  reg("starttls_login_x100/smtplib", smtplibMails, smallStartTls, 5);
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
  double t = r.time("attachment_tls_10MB/client"), tc = r.time("attachment_tls_10MB/curl");
  double l = r.time("starttls_login_x100/client"), lp = r.time("starttls_login_x100/smtplib");
  if (t > 0 && tc > 0)
    std::printf("10 MB attachment over TLS with login: client %.0f ms, curl %.0f ms; client/curl time %.2f\n", t, tc,
                t / tc);
  if (l > 0 && lp > 0)
    std::printf("100 small mails over STARTTLS with login: client %.2f ms/mail, smtplib %.2f ms/mail; "
                "client/smtplib mails per second %.2f\n",
                l / 100, lp / 100, lp / l);
  benchmark::Shutdown();
  return 0;
}
