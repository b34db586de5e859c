// WindowSource::open(), the one unit that includes every backend. It stays
// apart from WindowSource.cpp, which the backends use themselves, so no
// backend depends on the others through the interface.
#include "platform/windows/WindowSource.h"

#include <cstdlib>
#include <utility>

#include "basis/Exceptions.h"
#include "platform/windows/GnomeShellWindowSource.h"
#include "platform/windows/KWinWindowSource.h"
#include "platform/windows/WaylandWindowSource.h"
#include "platform/windows/X11WindowSource.h"

namespace {

// The X server of $DISPLAY (XWayland here) in a Wayland session where no
// backend sees native Wayland windows; the notice says why.
class XWaylandOnlySource : public X11WindowSource {
 public:
  explicit XWaylandOnlySource(std::string why) : notice_(std::move(why)) {}
  std::string notice() const override { return notice_; }

 private:
  std::string notice_;
};

const char* const NO_TOPLEVEL_LIST =
    "This desktop lets programs see only X11 windows: its compositor offers neither "
    "ext_foreign_toplevel_list_v1 nor zwlr_foreign_toplevel_manager_v1, and it is neither KWin nor GNOME "
    "Shell, so the status window is found only when it is an X11 (XWayland) window. Start the connection's "
    "program under XWayland (for example with QT_QPA_PLATFORM=xcb or GDK_BACKEND=x11), or use a desktop that "
    "shows Morvane its windows (KDE Plasma, GNOME, sway, Hyprland, labwc, niri, COSMIC).";

}  // namespace

std::unique_ptr<WindowSource> WindowSource::open() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland == nullptr || *wayland == '\0') return std::make_unique<X11WindowSource>();
  std::unique_ptr<WaylandWindowSource> native;
  try {
    native = WaylandWindowSource::connect(wayland);
  } catch (const IOException&) {
    // No compositor answers there: not a Wayland session after all.
    return std::make_unique<X11WindowSource>();
  }
  if (native != nullptr) return native;
  std::string why;
  if (std::unique_ptr<KWinWindowSource> kwin = KWinWindowSource::open(why)) return kwin;
  if (why.empty()) {
    if (std::unique_ptr<GnomeShellWindowSource> gnome = GnomeShellWindowSource::open(why)) return gnome;
  }
  try {
    return std::make_unique<XWaylandOnlySource>(why.empty() ? NO_TOPLEVEL_LIST : xwaylandNotice(why));
  } catch (const IOException& e) {
    throw IOException("WindowSource.open: The Wayland compositor of \"" + std::string(wayland) +
                      "\" lists no windows to other programs, and no X display is reachable either: " +
                      e.what());
  }
}
