#include "platform/windows/WaylandWindowSource.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "basis/Exceptions.h"
#include "platform/DisplayCheck.h"
#include "platform/windows/WindowPoll.h"
#include "ext-foreign-toplevel-list-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

// One toplevel of the compositor. Titles become current at the done event
// after them, so a poll never sees half of an update.
struct WaylandWindowSource::Toplevel {
  WaylandWindowSource* source = nullptr;
  void* handle = nullptr;
  std::list<Toplevel>::iterator self;
  std::string title;
  std::string pendingTitle;
  bool titlePending = false;
  bool done = false;  // listed: its first done event has come
};

namespace {

// The highest version of the wlr manager whose events this code knows.
constexpr uint32_t WLR_VERSION = 3;

}  // namespace

struct WaylandWindowSource::Listeners {
  static void global(void* data, wl_registry* /*registry*/, uint32_t name, const char* interface, uint32_t version) {
    auto* source = static_cast<WaylandWindowSource*>(data);
    if (std::strcmp(interface, ext_foreign_toplevel_list_v1_interface.name) == 0) {
      source->extName_ = name;
    } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
      source->wlrName_ = name;
      source->wlrVersion_ = std::min(version, WLR_VERSION);
    }
  }
  static void globalRemove(void*, wl_registry*, uint32_t) {}

  // Events shared by both protocols.
  static void title(void* data, const char* text) {
    auto* toplevel = static_cast<Toplevel*>(data);
    toplevel->pendingTitle = text != nullptr ? text : "";
    toplevel->titlePending = true;
  }
  static void done(void* data) {
    auto* toplevel = static_cast<Toplevel*>(data);
    bool changed = !toplevel->done;
    if (toplevel->titlePending) {
      changed = changed || toplevel->title != toplevel->pendingTitle;
      toplevel->title.swap(toplevel->pendingTitle);
      toplevel->pendingTitle.clear();
      toplevel->titlePending = false;
    }
    toplevel->done = true;
    if (changed) toplevel->source->listChanged_ = true;
  }
  static void closed(void* data) {
    auto* toplevel = static_cast<Toplevel*>(data);
    toplevel->source->closeToplevel(toplevel);
  }

  static void extToplevel(void* data, ext_foreign_toplevel_list_v1*, ext_foreign_toplevel_handle_v1* handle) {
    static_cast<WaylandWindowSource*>(data)->addToplevel(handle);
  }
  static void extFinished(void* data, ext_foreign_toplevel_list_v1*) {
    auto* source = static_cast<WaylandWindowSource*>(data);
    source->finished_ = true;
    source->listChanged_ = true;  // the next look reports the end of the list
  }
  static void extClosed(void* data, ext_foreign_toplevel_handle_v1*) { closed(data); }
  static void extDone(void* data, ext_foreign_toplevel_handle_v1*) { done(data); }
  static void extTitle(void* data, ext_foreign_toplevel_handle_v1*, const char* text) { title(data, text); }
  static void extIgnoreText(void*, ext_foreign_toplevel_handle_v1*, const char*) {}

  static void wlrToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
    static_cast<WaylandWindowSource*>(data)->addToplevel(handle);
  }
  static void wlrFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
    auto* source = static_cast<WaylandWindowSource*>(data);
    source->finished_ = true;
    source->listChanged_ = true;  // the next look reports the end of the list
  }
  static void wlrTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* text) { title(data, text); }
  static void wlrIgnoreText(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
  static void wlrIgnoreOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void wlrIgnoreState(void*, zwlr_foreign_toplevel_handle_v1*, wl_array*) {}
  static void wlrDone(void* data, zwlr_foreign_toplevel_handle_v1*) { done(data); }
  static void wlrClosed(void* data, zwlr_foreign_toplevel_handle_v1*) { closed(data); }
  static void wlrIgnoreParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

  static constexpr wl_registry_listener registry{&global, &globalRemove};
  static constexpr ext_foreign_toplevel_list_v1_listener extList{&extToplevel, &extFinished};
  static constexpr ext_foreign_toplevel_handle_v1_listener extHandle{&extClosed, &extDone, &extTitle,
                                                                     &extIgnoreText, &extIgnoreText};
  static constexpr zwlr_foreign_toplevel_manager_v1_listener wlrManager{&wlrToplevel, &wlrFinished};
  static constexpr zwlr_foreign_toplevel_handle_v1_listener wlrHandle{
      &wlrTitle, &wlrIgnoreText, &wlrIgnoreOutput, &wlrIgnoreOutput, &wlrIgnoreState, &wlrDone, &wlrClosed,
      &wlrIgnoreParent};
};

std::unique_ptr<WaylandWindowSource> WaylandWindowSource::connect(const std::string& displayName) {
  std::unique_ptr<WaylandWindowSource> source(new WaylandWindowSource());
  source->displayName_ = ::displayName(displayName, "WAYLAND_DISPLAY");
  if (source->displayName_.empty()) {
    throw IOException("WaylandWindowSource.connect: No Wayland display: WAYLAND_DISPLAY is not set.");
  }
  source->display_ = wl_display_connect(source->displayName_.c_str());
  if (source->display_ == nullptr) {
    throw IOException("WaylandWindowSource.connect: Cannot connect to the Wayland display \"" +
                      source->displayName_ + "\".");
  }
  wl_registry* registry = wl_display_get_registry(source->display_);
  wl_registry_add_listener(registry, &Listeners::registry, source.get());
  if (wl_display_roundtrip(source->display_) < 0) {
    wl_registry_destroy(registry);
    source->fail("connect", "does not answer");
  }
  source->bindList(registry);
  wl_registry_destroy(registry);
  if (source->list_ == nullptr) return nullptr;
  // The compositor answers the bind with every toplevel it has and its state.
  if (wl_display_roundtrip(source->display_) < 0) source->fail("connect", "does not answer");
  source->watchDescriptor();
  return source;
}

void WaylandWindowSource::bindList(wl_registry* registry) {
  if (extName_ != 0) {
    protocol_ = Protocol::ExtList;
    auto* list = static_cast<ext_foreign_toplevel_list_v1*>(
        wl_registry_bind(registry, extName_, &ext_foreign_toplevel_list_v1_interface, 1));
    ext_foreign_toplevel_list_v1_add_listener(list, &Listeners::extList, this);
    list_ = list;
  } else if (wlrName_ != 0) {
    protocol_ = Protocol::WlrManager;
    auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry, wlrName_, &zwlr_foreign_toplevel_manager_v1_interface, wlrVersion_));
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &Listeners::wlrManager, this);
    list_ = manager;
  }
}

WaylandWindowSource::~WaylandWindowSource() {
  readable_.reset();
  writable_.reset();
  if (display_ == nullptr) return;
  for (Toplevel& toplevel : toplevels_) destroyHandle(toplevel.handle);
  toplevels_.clear();
  if (list_ != nullptr) {
    if (protocol_ == Protocol::ExtList) {
      ext_foreign_toplevel_list_v1_destroy(static_cast<ext_foreign_toplevel_list_v1*>(list_));
    } else {
      auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(list_);
      if (!finished_) zwlr_foreign_toplevel_manager_v1_stop(manager);
      zwlr_foreign_toplevel_manager_v1_destroy(manager);
    }
  }
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

void WaylandWindowSource::addToplevel(void* handle) {
  toplevels_.emplace_front();
  Toplevel& toplevel = toplevels_.front();
  toplevel.source = this;
  toplevel.handle = handle;
  toplevel.self = toplevels_.begin();
  if (protocol_ == Protocol::ExtList) {
    ext_foreign_toplevel_handle_v1_add_listener(static_cast<ext_foreign_toplevel_handle_v1*>(handle),
                                                &Listeners::extHandle, &toplevel);
  } else {
    zwlr_foreign_toplevel_handle_v1_add_listener(static_cast<zwlr_foreign_toplevel_handle_v1*>(handle),
                                                 &Listeners::wlrHandle, &toplevel);
  }
}

void WaylandWindowSource::closeToplevel(Toplevel* toplevel) {
  if (toplevel->done) listChanged_ = true;
  destroyHandle(toplevel->handle);
  toplevels_.erase(toplevel->self);
}

void WaylandWindowSource::destroyHandle(void* handle) const {
  if (protocol_ == Protocol::ExtList) {
    ext_foreign_toplevel_handle_v1_destroy(static_cast<ext_foreign_toplevel_handle_v1*>(handle));
  } else {
    zwlr_foreign_toplevel_handle_v1_destroy(static_cast<zwlr_foreign_toplevel_handle_v1*>(handle));
  }
}

bool WaylandWindowSource::dispatchArrived() {
  wl_display* d = display_;
  const int fd = wl_display_get_fd(d);
  for (;;) {
    // Events another reader may already have queued come first.
    while (wl_display_prepare_read(d) != 0) {
      if (wl_display_dispatch_pending(d) < 0) return false;
    }
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
      wl_display_cancel_read(d);
      break;
    }
    if (wl_display_read_events(d) < 0) return false;
    if (wl_display_dispatch_pending(d) < 0) return false;
  }
  // Destroyed handles are requests; a full socket is flushed once writable.
  if (wl_display_flush(d) < 0) {
    if (errno != EAGAIN) return false;
    if (writable_ != nullptr) writable_->setEnabled(true);
  }
  if (listChanged_) {
    listChanged_ = false;
    notifyChanged();
  }
  return wl_display_get_error(d) == 0;
}

void WaylandWindowSource::watchDescriptor() {
  const int fd = wl_display_get_fd(display_);
  readable_ = std::make_unique<DescriptorWatch>(
      fd, DescriptorWatch::Event::Readable, [this] { return dispatchArrived(); }, [this] { notifyChanged(); });
  // Watched only while requests wait to be written.
  writable_ = std::make_unique<DescriptorWatch>(fd, DescriptorWatch::Event::Writable, [this] {
    return wl_display_flush(display_) < 0 && errno == EAGAIN;
  });
  writable_->setEnabled(false);
}

void WaylandWindowSource::fail(const char* operation, const std::string& what) const {
  throw IOException(std::string("WaylandWindowSource.") + operation + ": The Wayland display \"" + displayName_ +
                    "\" " + what + ".");
}

int32_t WaylandWindowSource::enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) {
  if (!dispatchArrived()) fail("enumWindows", "is no longer connected");
  if (finished_) fail("enumWindows", "has stopped listing its windows");
  return pollWindows(toplevels_, maxTitleBytes, callback, value, [](const Toplevel& toplevel) {
    return PolledWindow{wl_proxy_get_id(static_cast<wl_proxy*>(toplevel.handle)), toplevel.title, toplevel.done};
  });
}
