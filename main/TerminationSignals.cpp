#include "main/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

#include "basis/Exceptions.h"

namespace {

constexpr int HANDLED_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe from the handler to the event loop; -1 when none is installed.
int pipeFds[2] = {-1, -1};
// The pipe's write end, read by the handler.
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

void TerminationSignals::install() {
  if (pipeFds[0] >= 0) return;
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw IOException("TerminationSignals: Cannot make a pipe.");
  }
  writeFd = pipeFds[1];
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : HANDLED_SIGNALS) ::sigaction(s, &action, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void(int)> callback) : onSignal_(std::move(callback)) {
  install();
  notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignals(); });
}

TerminationSignals::~TerminationSignals() {
  for (int s : HANDLED_SIGNALS) ::signal(s, SIG_DFL);
  writeFd = -1;
  delete notifier_;
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  pipeFds[0] = pipeFds[1] = -1;
}

void TerminationSignals::readSignals() {
  unsigned char numbers[64];
  ssize_t n;
  while ((n = ::read(pipeFds[0], numbers, sizeof numbers)) > 0) {
    for (ssize_t i = 0; i < n; ++i) onSignal_(numbers[i]);
  }
}
