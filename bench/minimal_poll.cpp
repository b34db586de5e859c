// minimal_poll: the least a pipelined xcb client must do for one poll of
// the window title watcher, once a second on $DISPLAY: the root's children
// (or, under a window manager, its _NET_CLIENT_LIST) and _NET_WM_NAME and
// WM_NAME of each, all requests sent before the first reply is read. The
// peer of the real program in bench/program_poll_cost.sh.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  xcb_atom_t result = reply != nullptr ? reply->atom : XCB_NONE;
  std::free(reply);
  return result;
}

}  // namespace

int main() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c) != 0) return 1;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const xcb_atom_t netWmName = atom(c, "_NET_WM_NAME"), utf8 = atom(c, "UTF8_STRING");
  const xcb_atom_t clientList = atom(c, "_NET_CLIENT_LIST");
  const uint32_t units = (29 + 3) / 4;  // the watcher's title length, "Verbindung zum Internet aktiv"
  for (;;) {
    std::vector<xcb_window_t> windows;
    xcb_get_property_reply_t* list = xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, 1u << 20), nullptr);
    if (list != nullptr && list->type == XCB_ATOM_WINDOW) {
      auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(list));
      windows.assign(ids, ids + xcb_get_property_value_length(list) / 4);
    } else {
      xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
      xcb_window_t* children = xcb_query_tree_children(tree);
      windows.assign(children, children + xcb_query_tree_children_length(tree));
      std::free(tree);
    }
    std::free(list);
    std::vector<xcb_get_property_cookie_t> cookies;
    for (xcb_window_t w : windows) {
      cookies.push_back(xcb_get_property(c, 0, w, netWmName, utf8, 0, units));
      cookies.push_back(xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, units));
    }
    for (xcb_get_property_cookie_t cookie : cookies) std::free(xcb_get_property_reply(c, cookie, nullptr));
    if (xcb_connection_has_error(c) != 0) return 1;
    sleep(1);
  }
}
