#include "platform/X11WindowEnumerator.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <unordered_map>
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

// A window inside a top-level that is searched for the client window.
struct SearchNode {
  size_t top;
  xcb_window_t window;
};

void appendChildren(std::vector<SearchNode>& out, size_t top, const xcb_query_tree_reply_t* tree) {
  const xcb_window_t* children = xcb_query_tree_children(tree);
  int count = xcb_query_tree_children_length(tree);
  for (int i = 0; i < count; ++i) out.push_back({top, children[i]});
}

// One round: the titles of the client windows of the top-level windows
// `selected` picks; each of them is resolved afterwards.
template <class Selected>
void readClientTitles(const Poll& poll, std::vector<TopLevel>& tops, Selected selected) {
  std::vector<size_t> chosen;
  std::vector<TitleCookies> cookies;
  for (size_t i = 0; i < tops.size(); ++i) {
    if (selected(tops[i])) {
      chosen.push_back(i);
      cookies.push_back(poll.requestTitle(tops[i].client));
    }
  }
  for (size_t k = 0; k < chosen.size(); ++k) {
    TitleResult title = poll.title(cookies[k]);
    TopLevel& top = tops[chosen[k]];
    top.exists = title.exists;
    top.title = std::move(title.title);
    top.resolved = true;
  }
}

// Finds the client and title of every top-level window under a manager
// that lists its clients (_NET_CLIENT_LIST). The title and the parent of
// every client are asked for in one round; a client whose parent is no
// top-level window (a manager that wraps clients twice) is followed up the
// tree, one round per level. Top-level windows without a client (the
// manager's own windows, override-redirect and never-mapped windows) then
// get their own titles in one last round.
void resolveListed(xcb_connection_t* c, const Poll& poll, xcb_window_t root, const std::vector<xcb_window_t>& clients,
                   std::vector<TopLevel>& tops) {
  std::unordered_map<xcb_window_t, size_t> topIndex;
  topIndex.reserve(tops.size());
  for (size_t i = 0; i < tops.size(); ++i) topIndex.emplace(tops[i].window, i);

  std::vector<TitleCookies> titleCookies;
  std::vector<xcb_query_tree_cookie_t> treeCookies;
  titleCookies.reserve(clients.size());
  treeCookies.reserve(clients.size());
  for (xcb_window_t client : clients) {
    titleCookies.push_back(poll.requestTitle(client));
    treeCookies.push_back(xcb_query_tree(c, client));
  }
  std::vector<TitleResult> titles(clients.size());
  // Assigns client k to the top-level window `ancestor` if it is one and has
  // no client yet (several clients in one frame: the first listed wins).
  auto place = [&](size_t k, xcb_window_t ancestor) {
    auto it = topIndex.find(ancestor);
    if (it == topIndex.end()) return;
    TopLevel& top = tops[it->second];
    if (top.resolved) return;
    top.client = clients[k];
    top.title = std::move(titles[k].title);
    top.resolved = true;
  };
  struct Climb {
    size_t client;
    xcb_window_t window;  // an ancestor of the client below the root
  };
  std::vector<Climb> climbs;
  for (size_t k = 0; k < clients.size(); ++k) {
    titles[k] = poll.title(titleCookies[k]);
    Reply<xcb_query_tree_reply_t> tree = treeReply(c, treeCookies[k]);
    if (!titles[k].exists || tree == nullptr) continue;  // the client is gone
    if (tree->parent == root) {
      place(k, clients[k]);
    } else if (topIndex.count(tree->parent) != 0) {
      place(k, tree->parent);
    } else if (tree->parent != XCB_NONE) {
      climbs.push_back({k, tree->parent});
    }
  }
  for (int depth = 0; depth < kMaxSearchDepth && !climbs.empty(); ++depth) {
    std::vector<xcb_query_tree_cookie_t> cookies;
    cookies.reserve(climbs.size());
    for (const Climb& climb : climbs) cookies.push_back(xcb_query_tree(c, climb.window));
    std::vector<Climb> next;
    for (size_t j = 0; j < climbs.size(); ++j) {
      Reply<xcb_query_tree_reply_t> tree = treeReply(c, cookies[j]);
      if (tree == nullptr || tree->parent == root) continue;  // gone, or made after the root was read
      if (topIndex.count(tree->parent) != 0) {
        place(climbs[j].client, tree->parent);
      } else {
        next.push_back({climbs[j].client, tree->parent});
      }
    }
    climbs = std::move(next);
  }

  readClientTitles(poll, tops, [](const TopLevel& top) { return !top.resolved; });
}

// Finds the client and title of every top-level window without a manager
// (managed false) or under one that does not list its clients. Round 2
// reads the titles of all top-level windows; without a manager a titled
// window is its own client and only the untitled ones are searched, under a
// manager every window without WM_STATE is searched (it may be a frame), so
// WM_STATE and the children are asked for in the same round.
void resolveSearching(xcb_connection_t* c, const Poll& poll, bool managed, std::vector<TopLevel>& tops) {
  std::vector<TitleCookies> titleCookies(tops.size());
  std::vector<xcb_get_property_cookie_t> stateCookies(tops.size());
  std::vector<xcb_query_tree_cookie_t> treeCookies(tops.size());
  for (size_t i = 0; i < tops.size(); ++i) {
    titleCookies[i] = poll.requestTitle(tops[i].window);
    if (managed) {
      stateCookies[i] = poll.requestState(tops[i].window);
      treeCookies[i] = xcb_query_tree(c, tops[i].window);
    }
  }
  std::vector<SearchNode> frontier;
  std::vector<size_t> untitled;  // without a manager: to be searched, children not asked for yet
  for (size_t i = 0; i < tops.size(); ++i) {
    TopLevel& top = tops[i];
    TitleResult title = poll.title(titleCookies[i]);
    top.exists = title.exists;
    top.title = std::move(title.title);
    if (managed) {
      bool client = poll.hasState(stateCookies[i]);
      Reply<xcb_query_tree_reply_t> tree = treeReply(c, treeCookies[i]);
      if (!top.exists || client || tree == nullptr) {
        top.resolved = true;
      } else {
        appendChildren(frontier, i, tree.get());
      }
    } else if (!top.exists || title.hasTitle) {
      top.resolved = true;
    } else {
      untitled.push_back(i);
    }
  }

  // Only without a manager: the children of the untitled windows.
  if (!untitled.empty()) {
    std::vector<xcb_query_tree_cookie_t> cookies;
    cookies.reserve(untitled.size());
    for (size_t i : untitled) cookies.push_back(xcb_query_tree(c, tops[i].window));
    for (size_t k = 0; k < untitled.size(); ++k) {
      Reply<xcb_query_tree_reply_t> tree = treeReply(c, cookies[k]);
      if (tree != nullptr) appendChildren(frontier, untitled[k], tree.get());
    }
  }

  // One round per level below the top-level windows that are still
  // searched: the first window of a level that carries WM_STATE is the
  // client, and the search of its top-level window ends there. A top-level
  // window without one is its own client.
  for (int depth = 0; depth < kMaxSearchDepth && !frontier.empty(); ++depth) {
    const bool deeper = depth + 1 < kMaxSearchDepth;
    std::vector<xcb_get_property_cookie_t> states(frontier.size());
    std::vector<xcb_query_tree_cookie_t> trees(frontier.size());
    for (size_t k = 0; k < frontier.size(); ++k) {
      states[k] = poll.requestState(frontier[k].window);
      if (deeper) trees[k] = xcb_query_tree(c, frontier[k].window);
    }
    std::vector<Reply<xcb_query_tree_reply_t>> children(frontier.size());
    for (size_t k = 0; k < frontier.size(); ++k) {
      TopLevel& top = tops[frontier[k].top];
      bool client = poll.hasState(states[k]);
      if (deeper) children[k] = treeReply(c, trees[k]);
      if (!top.resolved && client) {
        top.client = frontier[k].window;
        top.resolved = true;
      }
    }
    std::vector<SearchNode> next;
    for (size_t k = 0; k < frontier.size(); ++k) {
      if (children[k] != nullptr && !tops[frontier[k].top].resolved) {
        appendChildren(next, frontier[k].top, children[k].get());
      }
    }
    frontier = std::move(next);
  }

  // Last round: the titles of the client windows found inside frames.
  readClientTitles(poll, tops, [](const TopLevel& top) { return top.exists && top.client != top.window; });
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

  const std::string names[] = {"_NET_WM_NAME", "UTF8_STRING", "WM_STATE", "WM_S" + std::to_string(screenNumber),
                               "_NET_CLIENT_LIST"};
  xcb_intern_atom_cookie_t cookies[5];
  for (int i = 0; i < 5; ++i) {
    cookies[i] = xcb_intern_atom(connection_, 0, static_cast<uint16_t>(names[i].size()), names[i].c_str());
  }
  uint32_t* atoms[] = {&netWmName_, &utf8String_, &wmState_, &wmSelection_, &clientList_};
  for (int i = 0; i < 5; ++i) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookies[i], &error));
    std::free(error);
    if (reply != nullptr) *atoms[i] = reply->atom;
  }
  if (xcb_connection_has_error(connection_) != 0 || netWmName_ == XCB_NONE || utf8String_ == XCB_NONE ||
      wmState_ == XCB_NONE || wmSelection_ == XCB_NONE || clientList_ == XCB_NONE) {
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

  // Replies are always collected in the order of their requests: libxcb
  // looks up a reply that arrived earlier than the one awaited in a list.

  // Round 1: the root's children (bottom of the stacking order first),
  // whether a window manager holds the ICCCM manager selection, and the
  // manager's client windows if it keeps the EWMH list of them.
  xcb_query_tree_cookie_t rootCookie = xcb_query_tree(c, root_);
  xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(c, wmSelection_);
  xcb_get_property_cookie_t clientsCookie =
      xcb_get_property(c, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 1u << 20);
  Reply<xcb_query_tree_reply_t> rootTree = treeReply(c, rootCookie);
  xcb_generic_error_t* ownerError = nullptr;
  Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(c, ownerCookie, &ownerError));
  std::free(ownerError);
  Reply<xcb_get_property_reply_t> clientList = propertyReply(c, clientsCookie);
  if (rootTree == nullptr) {
    checkConnection("enumWindows");
    throw IOException("X11WindowEnumerator.enumWindows: The root window cannot be read.");
  }
  const bool managed = owner != nullptr && owner->owner != XCB_NONE;
  const bool listed = managed && clientList != nullptr && clientList->type == XCB_ATOM_WINDOW &&
                      clientList->format == 32;
  std::vector<xcb_window_t> clients;
  if (listed) {
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(clientList.get()));
    clients.assign(ids, ids + xcb_get_property_value_length(clientList.get()) / 4);
  }
  clientList.reset();

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

  if (listed) {
    resolveListed(c, poll, root_, clients, tops);
  } else {
    resolveSearching(c, poll, managed, tops);
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
