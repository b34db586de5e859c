#pragma once
// The toplevel windows of a Wayland compositor with their titles, from the
// compositor's foreign-toplevel list: ext_foreign_toplevel_list_v1 where the
// compositor offers it, else zwlr_foreign_toplevel_manager_v1. XWayland
// windows are toplevels too.
//
// The source keeps a live list from the protocol's events (a new toplevel,
// its title, done, closed, and finished for the whole list) over a
// connection of its own. A toplevel enters the list at its first done event;
// a title counts from the done event that follows it. Events are read from
// the connection's file descriptor whenever Qt's event loop finds it readable
// (when a QCoreApplication exists), and a poll first dispatches whatever has
// arrived, without waiting: a poll never makes a round trip to the
// compositor. Newest toplevels come first. The window id is the protocol
// object's id of the toplevel's handle. The change handler (ChangeNotifier)
// is called once after each batch of events that listed, closed or retitled
// a toplevel.
//
// Not thread-safe; it belongs to the thread that made it.

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "platform/DescriptorWatch.h"
#include "platform/windows/WindowSource.h"

struct wl_display;
struct wl_registry;

class WaylandWindowSource : public WindowSource {
 public:
  enum class Protocol { ExtList, WlrManager };

  // Connects to `displayName`, or to $WAYLAND_DISPLAY when it is empty, and
  // reads the compositor's current toplevels (two round trips, here only).
  // Returns nullptr when the compositor offers neither protocol. Throws
  // IOException when no display is named or the connection fails.
  static std::unique_ptr<WaylandWindowSource> connect(const std::string& displayName = std::string());
  ~WaylandWindowSource() override;
  WaylandWindowSource(const WaylandWindowSource&) = delete;
  WaylandWindowSource& operator=(const WaylandWindowSource&) = delete;

  // Throws IOException when the connection is broken or the compositor has
  // stopped listing its toplevels.
  int32_t enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) override;

  Protocol protocol() const noexcept { return protocol_; }
  // Toplevels the source keeps, the ones not yet done included.
  size_t trackedCount() const noexcept { return toplevels_.size(); }

  // Protocol glue; used by the event handlers only.
  struct Toplevel;
  struct Listeners;

 private:
  WaylandWindowSource() = default;
  // Binds the ext list when the registry offered it, else the wlr manager,
  // else nothing (list_ stays nullptr).
  void bindList(wl_registry* registry);
  void addToplevel(void* handle);
  void closeToplevel(Toplevel* toplevel);
  void destroyHandle(void* handle) const;
  // Reads and dispatches every event that has arrived, then sends what is
  // queued; returns false when the connection has failed.
  bool dispatchArrived();
  void watchDescriptor();
  [[noreturn]] void fail(const char* operation, const std::string& what) const;

  std::string displayName_;
  wl_display* display_ = nullptr;
  Protocol protocol_ = Protocol::WlrManager;
  void* list_ = nullptr;  // the ext list or the wlr manager
  uint32_t extName_ = 0;  // registry names of the globals offered, 0: none
  uint32_t wlrName_ = 0;
  uint32_t wlrVersion_ = 0;
  bool finished_ = false;
  bool listChanged_ = false;  // since the change handler was last called
  std::list<Toplevel> toplevels_;
  std::unique_ptr<DescriptorWatch> readable_;
  std::unique_ptr<DescriptorWatch> writable_;
};
