#include "platform/WindowSource.h"

#include <cstdlib>
#include <utility>

#include "basis/Exceptions.h"
#include "platform/GnomeShellWindowSource.h"
#include "platform/KWinWindowSource.h"
#include "platform/WaylandWindowSource.h"
#include "platform/X11WindowEnumerator.h"

namespace {

// The X server of $DISPLAY (XWayland here) in a Wayland session where no
// backend sees native Wayland windows; the notice says why.
class XWaylandOnlySource : public X11WindowEnumerator {
 public:
  explicit XWaylandOnlySource(std::string why) : notice_(std::move(why)) {}
  std::string notice() const override { return notice_; }

 private:
  std::string notice_;
};

// After the reason why native windows stay unseen.
const char* const kMeanwhile =
    " Meanwhile Morvane sees only X11 (XWayland) windows: a native Wayland status window stays unseen, so "
    "start the connection's program under XWayland (for example with QT_QPA_PLATFORM=xcb or GDK_BACKEND=x11).";

const char* const kNoToplevelList =
    "This desktop lets programs see only X11 windows: its compositor offers neither "
    "ext_foreign_toplevel_list_v1 nor zwlr_foreign_toplevel_manager_v1, and it is neither KWin nor GNOME "
    "Shell, so the status window is found only when it is an X11 (XWayland) window. Start the connection's "
    "program under XWayland (for example with QT_QPA_PLATFORM=xcb or GDK_BACKEND=x11), or use a desktop that "
    "shows Morvane its windows (KDE Plasma, GNOME, sway, Hyprland, labwc, niri, COSMIC).";

}  // namespace

std::string WindowSource::xwaylandNotice(const std::string& why) { return why + kMeanwhile; }

std::unique_ptr<WindowSource> WindowSource::open() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland == nullptr || *wayland == '\0') return std::make_unique<X11WindowEnumerator>();
  std::unique_ptr<WaylandWindowSource> native;
  try {
    native = WaylandWindowSource::connect(wayland);
  } catch (const IOException&) {
    // No compositor answers there: not a Wayland session after all.
    return std::make_unique<X11WindowEnumerator>();
  }
  if (native != nullptr) return native;
  std::string why;
  if (std::unique_ptr<KWinWindowSource> kwin = KWinWindowSource::open(why)) return kwin;
  if (why.empty()) {
    if (std::unique_ptr<GnomeShellWindowSource> gnome = GnomeShellWindowSource::open(why)) return gnome;
  }
  try {
    return std::make_unique<XWaylandOnlySource>(why.empty() ? kNoToplevelList : xwaylandNotice(why));
  } catch (const IOException& e) {
    throw IOException("WindowSource.open: The Wayland compositor of \"" + std::string(wayland) +
                      "\" lists no windows to other programs, and no X display is reachable either: " +
                      e.what());
  }
}
