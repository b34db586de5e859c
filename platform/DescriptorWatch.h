#pragma once
// Watches one file descriptor on Qt's event loop for a source whose state
// the loop keeps current (the X server, the Wayland compositor, the netlink
// socket). Without a QCoreApplication nothing is watched: the source then
// catches up at its next poll.

#include <functional>
#include <memory>

class QObject;
class QSocketNotifier;

class DescriptorWatch {
 public:
  enum class Event { Readable, Writable };

  // Calls `onReady` whenever `fd` is ready for `event`; it returns whether
  // to go on watching. When it returns false the watch stops and `onStopped`
  // runs: for a connection that broke, the source tells its user there, and
  // the poll the user then asks for at once reports the failure.
  DescriptorWatch(int fd, Event event, std::function<bool()> onReady, std::function<void()> onStopped = {});
  ~DescriptorWatch();
  DescriptorWatch(const DescriptorWatch&) = delete;
  DescriptorWatch& operator=(const DescriptorWatch&) = delete;

  void setEnabled(bool enabled);
  // An object that lives as long as the watch, as the context of work the
  // source queues on the loop (null without a QCoreApplication).
  QObject* context() const;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};
