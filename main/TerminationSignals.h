#pragma once
// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, the end of the session) turned
// into a call on the event loop: the handler only writes the signal's number
// into a pipe, and a socket notifier reads it there, so the program ends
// through its normal path (mails drained, diagnostics released).

#include <QObject>
#include <functional>

class QSocketNotifier;

class TerminationSignals : public QObject {
 public:
  // Installs the handlers and their pipe, once, before anything else of the
  // program runs: a signal that arrives before the event loop waits in the
  // pipe until an instance reads it.
  static void install();

  // install(), then `onSignal` runs on the event loop for every signal that
  // arrives (also those that came before). Only one instance may exist at a
  // time.
  explicit TerminationSignals(std::function<void(int)> onSignal);
  // Restores the default handling of the three signals.
  ~TerminationSignals() override;

  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  void readSignals();

  std::function<void(int)> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
};
