#pragma once
// Servers for the SMTP tests: a real recording SMTP server (aiosmtpd under
// the system interpreter, on a free port, stopped with the object) and a
// scripted server that plays one conversation from a thread.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "tests/net/LoopbackServer.h"
#include "tests/support/TempDir.h"

extern char** environ;

class AiosmtpdServer {
 public:
  struct Options {
    // Accept and forget every message (nothing is recorded).
    bool discard = false;
  };
  AiosmtpdServer() : AiosmtpdServer(Options{}) {}
  explicit AiosmtpdServer(Options options) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string script = std::string(MORVANE_SOURCE_DIR) + "/tests/smtp/smtp_sink.py";
    std::string dir = options.discard ? "--discard" : spool_.path();
    const char* argv[] = {"/usr/bin/python3", script.c_str(), dir.c_str(), nullptr};
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
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

 private:
  TempDir spool_;
  pid_t pid_ = -1;
  int port_ = 0;
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
