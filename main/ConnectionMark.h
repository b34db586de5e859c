#pragma once
// What tells the main window that the connection it started is up: a status
// window with one of the configured titles, or (where configured) a network
// interface. The main window applies one rule to every kind of mark (see
// ConnectionWatch): the connection ends once a mark was present and, after
// that, none is.
//
// A mark is looked at by the main window's interval timer and, between two
// ticks, whenever the mark's source reports that something may have changed.

#include <functional>
#include <string>
#include <vector>

class ConnectionMark {
 public:
  virtual ~ConnectionMark() = default;

  // One look: true when a mark of the connection is present right now.
  // Throws IOException when the source behind it has failed.
  virtual bool present() = 0;

  // The handler is called on the event loop when presence may have changed
  // (see ChangeNotifier): it schedules a look, it never looks itself. An
  // empty handler switches the notification off.
  virtual void setChangeHandler(std::function<void()> handler) = 0;

  // What the user should know about the marks this watch can see (empty
  // when nothing): for example that native Wayland windows stay unseen.
  virtual std::string notice() const { return std::string(); }

  // Asked once, when the connection has ended (the last look found no mark):
  // lines for the connection log that come right before its close line, for
  // example what the connection carried. None by default.
  virtual std::vector<std::string> closingLines(const std::string& /*connectionName*/) {
    return std::vector<std::string>();
  }
};
