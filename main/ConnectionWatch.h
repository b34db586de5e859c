#pragma once
// The rule that ends a connection, the same for every kind of mark
// (ConnectionMark): the connection has ended once a mark was present and,
// after that, none is, and none comes back within a short grace. The grace
// lets a program re-create its status window without ending the connection.
//
// The watch looks at its mark when its owner says so (the main window's
// interval timer), once right after start(), whenever the mark reports a
// change (a look scheduled on the event loop at once; changes that come
// before it are served by the same look), and when a grace ends. The looks it
// schedules itself run through the owner's runner, which reports what they
// throw. The owner is told once, when the connection has ended.

#include <QTimer>
#include <functional>
#include <memory>

#include "main/ConnectionMark.h"

class ConnectionWatch {
 public:
  // How long no mark must be present, after one was, before the connection
  // counts as ended.
  static constexpr int GRACE_MILLIS = 80;

  // Runs `body` under the owner's error handling; `handler` names the look
  // for reports ("markChanged", "graceEnded").
  using Runner = std::function<void(const char* handler, const std::function<void()>& body)>;

  // Takes the mark. `ended` is called once, from a look, when the connection
  // has ended; the watch is stopped by then. `ended` must not destroy it.
  ConnectionWatch(std::unique_ptr<ConnectionMark> mark, Runner run, std::function<void()> ended);
  ~ConnectionWatch();
  ConnectionWatch(const ConnectionWatch&) = delete;
  ConnectionWatch& operator=(const ConnectionWatch&) = delete;

  // Starts watching with nothing seen yet; the first look follows at once.
  void start();
  // One look now. Throws what the mark throws.
  void look();
  // No more looks and no end; the mark's change handler is switched off.
  void stop();

  // A mark was present at a look since start().
  bool seen() const noexcept { return seen_; }
  ConnectionMark& mark() const noexcept { return *mark_; }

 private:
  void graceEnded();

  std::unique_ptr<ConnectionMark> mark_;
  Runner run_;
  std::function<void()> ended_;
  QTimer changed_;  // zero delay: the look after a change
  QTimer grace_;
  bool seen_ = false;
  bool watching_ = false;
};
