#pragma once
// The toplevel windows of GNOME Shell, native Wayland and XWayland alike,
// from Morvane's own window list extension (platform/windows/gnome-shell/)
// over the session bus.
//
// The source reads the list once and then keeps it from the extension's
// signals (a window opened, got a title, closed), so a poll makes no call.
// It trusts the list only from the shell itself: the bus name
// org.morvane.WindowList must belong to the owner of org.gnome.Shell. When
// the list goes (the shell restarts) the last one stays until it is back,
// for at most RETURN_GRACE_MS. No call waits for the shell.
//
// Not thread-safe; it belongs to the thread that made it, whose event loop
// delivers the signals.

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows/BusFedSource.h"
#include "platform/windows/LiveWindowList.h"
#include "platform/windows/WindowSource.h"

class QDBusMessage;
class SessionBus;

class GnomeShellWindowSource : public WindowSource {
 public:
  // The source when GNOME Shell is on the session bus and publishes the
  // window list or is about to (after enabling the extension where that is
  // all it needs, see GnomeShellExtension::prepare); nullptr otherwise, with
  // `why` set to the notice for the user when the shell is there. It is
  // usable at once: the list is read on the event loop, and a list that
  // does not come within GnomeShellExtension::START_MS leaves the source
  // watching XWayland windows, with the notice that says why.
  static std::unique_ptr<GnomeShellWindowSource> open(std::string& why);
  ~GnomeShellWindowSource() override;
  GnomeShellWindowSource(const GnomeShellWindowSource&) = delete;
  GnomeShellWindowSource& operator=(const GnomeShellWindowSource&) = delete;

  // Throws IOException when the list has been gone for longer than the
  // grace time.
  int32_t enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) override;
  std::string notice() const override { return feed_.notice(); }

  size_t trackedCount() const noexcept { return windows_.size(); }
  // Whether XWayland stands in for a list that never came.
  bool standingIn() const noexcept { return feed_.standingIn() != nullptr; }

  static constexpr int RETURN_GRACE_MS = BusFedSource::RETURN_GRACE_MS;

  // The windows in the extension's answer to GetWindows (signature a(ts)):
  // each one's id and title, in the extension's order.
  static std::vector<std::pair<uint64_t, std::string>> windowsOf(const QDBusMessage& reply);

  // Signal glue; used by the receiver only.
  void opened(uint64_t id, const QString& title);
  void retitled(uint64_t id, const QString& title);
  void closed(uint64_t id);
  // The signal came from the shell that publishes the list now.
  bool trusts(const QDBusMessage& message) const { return feed_.trusts(message); }
  class Receiver;

 private:
  explicit GnomeShellWindowSource(std::unique_ptr<SessionBus> bus);
  // Reads the whole list from the current publisher.
  void readList();
  void listOwnerChanged(const QString& owner);

  BusFedSource feed_;
  std::unique_ptr<Receiver> receiver_;
  unsigned reading_ = 0;   // the latest read of the list; older answers are void
  bool listed_ = false;    // a list has come since the start
  LiveWindowList windows_;
};
