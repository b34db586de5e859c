#include "main/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

#include "basis/Exceptions.h"

namespace {

constexpr int HANDLED_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end, read by the handler; -1 when none is installed.
volatile sig_atomic_t writeFd = -1;

void onSignal(int signalNumber) {
  int savedErrno = errno;
  unsigned char number = static_cast<unsigned char>(signalNumber);
  if (writeFd >= 0) {
    ssize_t ignored = ::write(writeFd, &number, 1);  // a full pipe already holds a wake-up
    (void)ignored;
  }
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> callback) : onSignal_(std::move(callback)) {
  if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw IOException("TerminationSignals: Cannot make a pipe.");
  }
  writeFd = fds_[1];
  notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignals(); });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : HANDLED_SIGNALS) ::sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  for (int s : HANDLED_SIGNALS) ::signal(s, SIG_DFL);
  writeFd = -1;
  delete notifier_;
  ::close(fds_[0]);
  ::close(fds_[1]);
}

void TerminationSignals::readSignals() {
  unsigned char numbers[64];
  ssize_t n;
  while ((n = ::read(fds_[0], numbers, sizeof numbers)) > 0) {
    for (ssize_t i = 0; i < n; ++i) onSignal_(numbers[i]);
  }
}
