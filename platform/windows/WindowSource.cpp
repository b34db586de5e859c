#include "platform/windows/WindowSource.h"

namespace {

// After the reason why native windows stay unseen.
const char* const MEANWHILE =
    " Meanwhile Morvane sees only X11 (XWayland) windows: a native Wayland status window stays unseen, so "
    "start the connection's program under XWayland (for example with QT_QPA_PLATFORM=xcb or GDK_BACKEND=x11).";

}  // namespace

std::string WindowSource::xwaylandNotice(const std::string& why) { return why + MEANWHILE; }
