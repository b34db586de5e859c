#include "platform/X11WindowEnumerator.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "basis/Exceptions.h"

namespace {

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// How deep below a top-level window the client window is looked for. Window
// managers put it one or two levels down; deeper trees are application
// widgets, where no client window can be.
constexpr int kMaxSearchDepth = 4;

Reply<xcb_get_property_reply_t> propertyReply(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, &error));
  std::free(error);
  return reply;
}

Reply<xcb_query_tree_reply_t> treeReply(xcb_connection_t* c, xcb_query_tree_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  Reply<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(c, cookie, &error));
  std::free(error);
  return reply;
}

// The title requests of one window.
struct TitleCookies {
  xcb_get_property_cookie_t netName;
  xcb_get_property_cookie_t name;
};

// What the title requests of one window gave.
struct TitleResult {
  bool exists = false;    // false: the window was destroyed meanwhile
  bool hasTitle = false;  // one of the two properties is set
  std::string title;
};

std::string latin1ToUtf8(const char* bytes, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    auto ch = static_cast<unsigned char>(bytes[i]);
    if (ch < 0x80) {
      out += static_cast<char>(ch);
    } else {
      out += static_cast<char>(0xC0 | (ch >> 6));
      out += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return out;
}

class Poll {
 public:
  Poll(xcb_connection_t* c, uint32_t netWmName, uint32_t utf8String, uint32_t wmState, size_t maxBytes)
      : c_(c), netWmName_(netWmName), utf8String_(utf8String), wmState_(wmState), maxBytes_(maxBytes) {}

  TitleCookies requestTitle(xcb_window_t window) const {
    // Property lengths are counted in 32-bit units.
    auto units = static_cast<uint32_t>((maxBytes_ + 3) / 4);
    return {xcb_get_property(c_, 0, window, netWmName_, utf8String_, 0, units),
            xcb_get_property(c_, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, units)};
  }

  TitleResult title(const TitleCookies& cookies) const {
    TitleResult result;
    Reply<xcb_get_property_reply_t> netName = propertyReply(c_, cookies.netName);
    Reply<xcb_get_property_reply_t> name = propertyReply(c_, cookies.name);
    if (netName == nullptr || name == nullptr) return result;
    result.exists = true;
    if (netName->type == utf8String_ && netName->format == 8) {
      result.hasTitle = true;
      result.title = bytes(netName.get());
    } else if (name->type != XCB_ATOM_NONE && name->format == 8) {
      result.hasTitle = true;
      if (name->type == XCB_ATOM_STRING) {
        std::string raw = bytes(name.get());
        result.title = latin1ToUtf8(raw.data(), raw.size());
        if (result.title.size() > maxBytes_) result.title.resize(maxBytes_);
      } else {
        result.title = bytes(name.get());
      }
    }
    return result;
  }

  xcb_get_property_cookie_t requestState(xcb_window_t window) const {
    return xcb_get_property(c_, 0, window, wmState_, wmState_, 0, 0);
  }

  // True when the window carries WM_STATE; false also when it is gone.
  bool hasState(xcb_get_property_cookie_t cookie) const {
    Reply<xcb_get_property_reply_t> reply = propertyReply(c_, cookie);
    return reply != nullptr && reply->type != XCB_ATOM_NONE;
  }

 private:
  std::string bytes(xcb_get_property_reply_t* reply) const {
    auto length = static_cast<size_t>(xcb_get_property_value_length(reply));
    if (length > maxBytes_) length = maxBytes_;
    return std::string(static_cast<const char*>(xcb_get_property_value(reply)), length);
  }

  xcb_connection_t* c_;
  uint32_t netWmName_;
  uint32_t utf8String_;
  uint32_t wmState_;
  size_t maxBytes_;
};

// One top-level window during a poll.
struct TopLevel {
  xcb_window_t window = XCB_NONE;
  xcb_window_t client = XCB_NONE;  // where the title comes from
  bool exists = true;
  bool resolved = false;           // client is final
  std::string title;
};

// A window inside a top-level whose WM_STATE and children are asked for.
struct SearchNode {
  size_t top;
  xcb_window_t window;
};

void appendChildren(std::vector<SearchNode>& out, size_t top, const xcb_query_tree_reply_t* tree) {
  const xcb_window_t* children = xcb_query_tree_children(tree);
  int count = xcb_query_tree_children_length(tree);
  for (int i = 0; i < count; ++i) out.push_back({top, children[i]});
}

}  // namespace

X11WindowEnumerator::X11WindowEnumerator(const std::string& displayName) {
  if (displayName.empty()) {
    const char* env = std::getenv("DISPLAY");
    if (env == nullptr || *env == '\0') {
      throw IOException("X11WindowEnumerator.<init>: No X display: DISPLAY is not set.");
    }
    displayName_ = env;
  } else {
    displayName_ = displayName;
  }
  int screenNumber = 0;
  connection_ = xcb_connect(displayName_.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection_) != 0) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    throw IOException("X11WindowEnumerator.<init>: Cannot connect to the X display \"" + displayName_ + "\".");
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    throw IOException("X11WindowEnumerator.<init>: The X display \"" + displayName_ + "\" has no screen " +
                      std::to_string(screenNumber) + ".");
  }
  root_ = screens.data->root;

  const std::string names[] = {"_NET_WM_NAME", "UTF8_STRING", "WM_STATE", "WM_S" + std::to_string(screenNumber)};
  xcb_intern_atom_cookie_t cookies[4];
  for (int i = 0; i < 4; ++i) {
    cookies[i] = xcb_intern_atom(connection_, 0, static_cast<uint16_t>(names[i].size()), names[i].c_str());
  }
  uint32_t* atoms[] = {&netWmName_, &utf8String_, &wmState_, &wmSelection_};
  for (int i = 0; i < 4; ++i) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookies[i], &error));
    std::free(error);
    if (reply != nullptr) *atoms[i] = reply->atom;
  }
  if (xcb_connection_has_error(connection_) != 0 || netWmName_ == XCB_NONE || utf8String_ == XCB_NONE ||
      wmState_ == XCB_NONE || wmSelection_ == XCB_NONE) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    throw IOException("X11WindowEnumerator.<init>: The X display \"" + displayName_ + "\" does not answer.");
  }
}

X11WindowEnumerator::~X11WindowEnumerator() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

void X11WindowEnumerator::checkConnection(const char* operation) const {
  if (xcb_connection_has_error(connection_) != 0) {
    throw IOException(std::string("X11WindowEnumerator.") + operation + ": Connection to the X display \"" +
                      displayName_ + "\" is broken.");
  }
}

int32_t X11WindowEnumerator::enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) {
  checkConnection("enumWindows");
  xcb_connection_t* c = connection_;
  Poll poll(c, netWmName_, utf8String_, wmState_, maxTitleBytes < 0 ? 0 : static_cast<size_t>(maxTitleBytes));

  // Round 1: the root's children (bottom of the stacking order first) and
  // whether a window manager holds the ICCCM manager selection.
  xcb_query_tree_cookie_t rootCookie = xcb_query_tree(c, root_);
  xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(c, wmSelection_);
  Reply<xcb_query_tree_reply_t> rootTree = treeReply(c, rootCookie);
  xcb_generic_error_t* ownerError = nullptr;
  Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(c, ownerCookie, &ownerError));
  std::free(ownerError);
  if (rootTree == nullptr) {
    checkConnection("enumWindows");
    throw IOException("X11WindowEnumerator.enumWindows: The root window cannot be read.");
  }
  const bool managed = owner != nullptr && owner->owner != XCB_NONE;

  std::vector<TopLevel> tops;
  {
    const xcb_window_t* children = xcb_query_tree_children(rootTree.get());
    int count = xcb_query_tree_children_length(rootTree.get());
    tops.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      tops[static_cast<size_t>(i)].window = children[count - 1 - i];
      tops[static_cast<size_t>(i)].client = children[count - 1 - i];
    }
  }

  // Round 2: the titles of every top-level window. With a window manager
  // also whether the window is a client itself (WM_STATE) and its children,
  // in case it is a frame.
  std::vector<TitleCookies> titleCookies(tops.size());
  std::vector<xcb_get_property_cookie_t> stateCookies(managed ? tops.size() : 0);
  std::vector<xcb_query_tree_cookie_t> treeCookies(managed ? tops.size() : 0);
  for (size_t i = 0; i < tops.size(); ++i) {
    titleCookies[i] = poll.requestTitle(tops[i].window);
    if (managed) {
      stateCookies[i] = poll.requestState(tops[i].window);
      treeCookies[i] = xcb_query_tree(c, tops[i].window);
    }
  }
  std::vector<SearchNode> frontier;
  std::vector<size_t> withoutChildren;  // searched, but their children are not asked for yet
  for (size_t i = 0; i < tops.size(); ++i) {
    TitleResult title = poll.title(titleCookies[i]);
    tops[i].exists = title.exists;
    tops[i].title = std::move(title.title);
    if (managed) {
      bool client = poll.hasState(stateCookies[i]);
      Reply<xcb_query_tree_reply_t> tree = treeReply(c, treeCookies[i]);
      if (!tops[i].exists || client || tree == nullptr) {
        tops[i].resolved = true;
      } else {
        appendChildren(frontier, i, tree.get());
      }
    } else if (!title.exists || title.hasTitle) {
      // Without a window manager a titled top-level window is its own client.
      tops[i].resolved = true;
    } else {
      withoutChildren.push_back(i);
    }
  }

  // Only without a window manager: the children of the untitled windows.
  if (!withoutChildren.empty()) {
    std::vector<xcb_query_tree_cookie_t> cookies;
    cookies.reserve(withoutChildren.size());
    for (size_t i : withoutChildren) cookies.push_back(xcb_query_tree(c, tops[i].window));
    for (size_t k = 0; k < withoutChildren.size(); ++k) {
      Reply<xcb_query_tree_reply_t> tree = treeReply(c, cookies[k]);
      if (tree != nullptr) appendChildren(frontier, withoutChildren[k], tree.get());
    }
  }

  // One round per level below the top-level windows: the first window of a
  // level that carries WM_STATE is the client; the search of that top-level
  // window ends there.
  for (int depth = 0; depth < kMaxSearchDepth && !frontier.empty(); ++depth) {
    std::vector<xcb_get_property_cookie_t> states(frontier.size());
    std::vector<xcb_query_tree_cookie_t> trees(frontier.size());
    for (size_t k = 0; k < frontier.size(); ++k) {
      states[k] = poll.requestState(frontier[k].window);
      trees[k] = xcb_query_tree(c, frontier[k].window);
    }
    for (size_t k = 0; k < frontier.size(); ++k) {
      TopLevel& top = tops[frontier[k].top];
      bool client = poll.hasState(states[k]);
      if (!top.resolved && client) {
        top.client = frontier[k].window;
        top.resolved = true;
      }
    }
    std::vector<SearchNode> next;
    for (size_t k = 0; k < frontier.size(); ++k) {
      if (tops[frontier[k].top].resolved || depth + 1 == kMaxSearchDepth) {
        xcb_discard_reply(c, trees[k].sequence);
        continue;
      }
      Reply<xcb_query_tree_reply_t> tree = treeReply(c, trees[k]);
      if (tree != nullptr) appendChildren(next, frontier[k].top, tree.get());
    }
    frontier = std::move(next);
  }

  // Last round: the titles of the client windows found inside frames.
  std::vector<size_t> framed;
  for (size_t i = 0; i < tops.size(); ++i) {
    if (tops[i].exists && tops[i].client != tops[i].window) framed.push_back(i);
  }
  if (!framed.empty()) {
    std::vector<TitleCookies> cookies;
    cookies.reserve(framed.size());
    for (size_t i : framed) cookies.push_back(poll.requestTitle(tops[i].client));
    for (size_t k = 0; k < framed.size(); ++k) {
      TitleResult title = poll.title(cookies[k]);
      TopLevel& top = tops[framed[k]];
      top.exists = title.exists;
      top.title = std::move(title.title);
    }
  }
  checkConnection("enumWindows");

  int32_t calls = 0;
  for (const TopLevel& top : tops) {
    if (!top.exists) continue;
    ++calls;
    if (!callback(top.window, top.title, value)) break;
  }
  return calls;
}
