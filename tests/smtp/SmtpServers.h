#pragma once
// Servers for the SMTP tests: a real recording SMTP server (aiosmtpd under
// the system interpreter, on a free port, stopped with the object; with TLS
// and logins where asked), the certificates of the TLS tests, a private
// Postfix, and a scripted server that plays one conversation from a thread.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/LoopbackServer.h"
#include "tests/support/TempDir.h"

extern char** environ;

// The certificates of the TLS tests, made once per test process by
// tests/smtp/make_test_certificates.sh: a CA the client trusts, a server
// certificate for 127.0.0.1 by it, one for another name by it, and one for
// 127.0.0.1 by a CA nobody trusts.
class TestCertificates {
 public:
  static const TestCertificates& get() {
    static TestCertificates made;
    return made;
  }
  bool ready() const { return ready_; }
  std::string ca() const { return dir_.file("ca.pem"); }
  std::string cert(const std::string& name) const { return dir_.file(name + ".pem"); }
  std::string key(const std::string& name) const { return dir_.file(name + ".key"); }

 private:
  TestCertificates() {
    std::string command = "sh '" + std::string(MORVANE_SOURCE_DIR) + "/tests/smtp/make_test_certificates.sh' '" +
                          dir_.path() + "'";
    ready_ = std::system(command.c_str()) == 0;
  }
  TempDir dir_;
  bool ready_ = false;
};

class AiosmtpdServer {
 public:
  struct Options {
    // Accept and forget every message (nothing is recorded).
    bool discard = false;
    // The server certificate (a name of TestCertificates): STARTTLS offered
    // and required, or TLS from the first byte.
    std::string certificate;
    bool starttls = false;
    bool smtps = false;
    // "user:password": AUTH required, over TLS only.
    std::string login;
    bool loginOnly = false;  // AUTH LOGIN, no PLAIN
    // Every AUTH refused with a reply that repeats it.
    bool echoAuth = false;
    // A line sent right behind "220 Ready to start TLS".
    std::string inject;
  };
  AiosmtpdServer() : AiosmtpdServer(Options{}) {}
  explicit AiosmtpdServer(Options options) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string script = std::string(MORVANE_SOURCE_DIR) + "/tests/smtp/smtp_sink.py";
    std::vector<std::string> args = {"/usr/bin/python3", script, options.discard ? "--discard" : spool_.path()};
    if (!options.certificate.empty()) {
      const TestCertificates& certificates = TestCertificates::get();
      args.insert(args.end(), {"--cert", certificates.cert(options.certificate), "--key",
                               certificates.key(options.certificate)});
    }
    if (options.starttls) args.push_back("--starttls");
    if (options.smtps) args.push_back("--smtps");
    if (!options.login.empty()) args.insert(args.end(), {"--login", options.login});
    if (options.loginOnly) args.push_back("--no-plain");
    if (options.echoAuth) args.push_back("--echo-auth");
    if (!options.inject.empty()) args.insert(args.end(), {"--inject", options.inject});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string line;  // "PORT <n>\n"
    while (line.find('\n') == std::string::npos) {
      pollfd p{out[0], POLLIN, 0};
      char buffer[64];
      if (::poll(&p, 1, 15000) != 1) break;
      ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::stoi(line.substr(5));
  }
  ~AiosmtpdServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
  }
  AiosmtpdServer(const AiosmtpdServer&) = delete;
  AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

  bool running() const { return port_ > 0; }
  std::string portText() const { return std::to_string(port_); }
  // The envelope and the bytes of the n-th message (from 1), "" when absent.
  std::string envelope(int n) const { return TempDir::read(spool_.file(std::to_string(n) + ".env")); }
  std::string message(int n) const { return TempDir::read(spool_.file(std::to_string(n) + ".eml")); }
  // "tls=<0|1> login=<user>" of the n-th message's session.
  std::string session(int n) const { return TempDir::read(spool_.file(std::to_string(n) + ".session")); }
  // One "<mechanism> <user>" line per AUTH the server received.
  std::string authLog() const { return TempDir::read(spool_.file("auth.log")); }

 private:
  TempDir spool_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A private Postfix on loopback (tests/smtp/postfix_instance.sh), started
// with the object and stopped with it: plain SMTP, submission with STARTTLS
// and a SASL login, and the same with TLS from the first byte. It needs
// root; without it available() is false and reason() says why.
class PostfixServer {
 public:
  // The login's user name.
  static constexpr const char* USER = "morvane@test.example";

  explicit PostfixServer(const std::string& password) {
    if (::geteuid() != 0) {
      reason_ = "a private Postfix needs root";
      return;
    }
    if (!TestCertificates::get().ready()) {
      reason_ = "openssl could not make the certificates";
      return;
    }
    const std::string certificates = TestCertificates::get().ca().substr(0, TestCertificates::get().ca().rfind('/'));
    const std::string out = run("start '" + dir_.path() + "' '" + certificates + "' '" + password + "'");
    if (std::sscanf(out.c_str(), "PORTS %d %d %d", &plain_, &submission_, &smtps_) != 3) reason_ = "Postfix did not start: " + out;
  }
  ~PostfixServer() {
    if (plain_ > 0) run("stop '" + dir_.path() + "'");
  }
  PostfixServer(const PostfixServer&) = delete;
  PostfixServer& operator=(const PostfixServer&) = delete;

  bool available() const { return reason_.empty(); }
  const std::string& reason() const { return reason_; }
  std::string plainPort() const { return std::to_string(plain_); }
  std::string submissionPort() const { return std::to_string(submission_); }
  std::string smtpsPort() const { return std::to_string(smtps_); }
  // Every message delivered to to@test.example so far.
  std::vector<std::string> delivered() const {
    std::vector<std::string> messages;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.file("mail/to/new"), ignored))
      messages.push_back(TempDir::read(entry.path().string()));
    return messages;
  }
  std::string maillog() const { return TempDir::read(dir_.file("maillog")); }

 private:
  std::string run(const std::string& arguments) const {
    std::string command = "sh '" + std::string(MORVANE_SOURCE_DIR) + "/tests/smtp/postfix_instance.sh' " + arguments + " 2>&1";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
      ::pclose(p);
    }
    return out;
  }

  TempDir dir_;
  std::string reason_;
  int plain_ = 0, submission_ = 0, smtps_ = 0;
};

// One connection's conversation, run by a thread with blocking calls.
class ScriptedServer {
 public:
  class Peer {
   public:
    explicit Peer(int fd) : fd_(fd) {}
    // False when the connection broke.
    bool send(const std::string& text) { return writeAll(fd_, text); }
    // The next line without its CR LF; "" with closed() when the client
    // closed or nothing came within timeoutMs.
    std::string readLine(int timeoutMs = 5000) {
      for (;;) {
        size_t end = pending_.find("\r\n");
        if (end != std::string::npos) {
          std::string line = pending_.substr(0, end);
          pending_.erase(0, end + 2);
          transcript += line + "\n";
          return line;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return "";
        char buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
          closed_ = true;
          return "";
        }
        pending_.append(buffer, static_cast<size_t>(n));
      }
    }
    // Reads lines up to and including the lone ".".
    void readData() {
      while (!closed_) {
        std::string line = readLine();
        if (line == "." || (line.empty() && closed_)) return;
      }
    }
    bool closed() const { return closed_; }
    void close() {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      closed_ = true;
    }
    std::string transcript;

   private:
    int fd_;
    std::string pending_;
    bool closed_ = false;
  };

  explicit ScriptedServer(std::function<void(Peer&)> script) {
    thread_ = std::thread([this, script = std::move(script)] {
      int fd = listener_.accept(10000);
      if (fd < 0) return;
      Peer peer(fd);
      script(peer);
      // Let the client see the end of the conversation before closing.
      if (!peer.closed()) peer.readLine(300);
      peer.close();
      transcript_ = peer.transcript;
      done_ = true;
    });
  }
  ~ScriptedServer() { thread_.join(); }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::string portText() const { return listener_.portText(); }
  // What the client sent, one line each; complete once done().
  const std::string& transcript() const { return transcript_; }
  bool done() const { return done_; }

 private:
  LoopbackServer listener_;
  std::thread thread_;
  std::string transcript_;
  std::atomic<bool> done_{false};
};
