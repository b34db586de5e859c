#pragma once
// The part of an X server's window tree that decides which top-level windows
// there are and whose title each of them shows, kept by X11WindowSource
// from the server's events and replies: the root's children in stacking
// order, every window down to MAX_DEPTH levels below them and whether it
// carries WM_STATE, the title properties of the windows whose title can be
// shown (top-level windows, listed clients, windows carrying WM_STATE),
// whether a window manager holds the manager selection, and the manager's
// EWMH client list.
//
// windows() applies the rules documented in X11WindowSource.h to what is
// kept, in memory. A change that makes the tree follow a window it knows
// nothing about yet, or stop following one, is collected for the caller, who
// asks the server (takeRequests).

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class X11WindowTree {
 public:
  using Window = uint32_t;
  // How many levels below a top-level window are searched for the client
  // window that carries WM_STATE; listed clients are placed one level deeper.
  static constexpr int SEARCH_LEVELS = 4;
  static constexpr int MAX_DEPTH = SEARCH_LEVELS + 1;
  // A title is kept to this many bytes (after conversion to UTF-8).
  static constexpr size_t MAX_TITLE_BYTES = 4096;

  enum class TitleProperty { NetWmName, WmName };

  struct Entry {
    Window window;
    std::string title;
    bool operator==(const Entry&) const = default;
  };

  // What the caller must ask the server about, in this order.
  struct Requests {
    // Newly followed: select its events and, above MAX_DEPTH, ask for its
    // children and WM_STATE.
    std::vector<Window> describe;
    // Its title can be shown now: ask for its title properties.
    std::vector<Window> titles;
    // Now at MAX_DEPTH: its children are no longer followed.
    std::vector<Window> narrow;
    // No longer followed, though it still exists: deselect its events.
    std::vector<Window> forget;
  };

  explicit X11WindowTree(Window root);

  // Structure, from events. Each ignores what does not concern a followed
  // window; created() and destroyed() also what they already know.
  void created(Window parent, Window window);
  void destroyed(Window window);
  // Also to the same parent: the window goes on top of its siblings.
  void reparented(Window window, Window parent);
  // `below` is the sibling right below the window, 0 at the bottom.
  void restacked(Window window, Window below);
  void circulated(Window window, bool toTop);

  // Replies. `children` bottom of the stack first.
  void setChildren(Window parent, const std::vector<Window>& children);
  void setWmState(Window window, bool present);
  // `set`: the property holds a title; `text` is its UTF-8 form.
  void setTitle(Window window, TitleProperty which, bool set, std::string text);
  void setManaged(bool managed);
  void setClientList(bool valid, std::vector<Window> clients);

  bool follows(Window window) const { return nodes_.count(window) != 0; }
  // Its title properties were asked for (and are followed since).
  bool followsTitles(Window window) const {
    const Node* node = find(window);
    return node != nullptr && node->titlesAsked;
  }
  // -1 for the root, 0 for a top-level window; needs follows(window).
  int depth(Window window) const { return nodes_.at(window).depth; }
  // Windows followed, the root not counted.
  size_t size() const { return nodes_.size() - 1; }

  Requests takeRequests();

  // Brings windows() up to date; true when that changed it.
  bool refresh();
  // Top-level windows, top of the stack first, each with the title of its
  // client window, as of the last refresh().
  const std::vector<Entry>& windows() const { return windows_; }

 private:
  struct Node {
    Window parent = 0;
    int depth = 0;
    std::vector<Window> children;  // bottom of the stack first
    bool wmState = false;
    bool titlesAsked = false;
    bool netSet = false;
    bool nameSet = false;
    std::string net;   // _NET_WM_NAME
    std::string name;  // WM_NAME
  };

  // A new node on top of `parent`'s children.
  void attach(Window window, Window parent);
  void detach(Window window);
  // Drops the node and everything below it; `exists`: they are still there.
  void drop(Window window, bool exists);
  void moveTo(Window window, int depth);
  // Asks for the window's titles once they can be shown.
  void considerTitles(Window window);
  const Node* find(Window window) const;
  Node* find(Window window);
  static bool hasTitle(const Node& node) { return node.netSet || node.nameSet; }
  static const std::string& titleOf(const Node& node);
  // The first window below `top` carrying WM_STATE, level by level; 0: none.
  Window searchClient(const Node& top) const;
  std::vector<Entry> resolve() const;

  Window root_;
  std::unordered_map<Window, Node> nodes_;
  bool managed_ = false;
  bool listValid_ = false;
  std::vector<Window> clients_;
  std::unordered_set<Window> listed_;  // clients_ as a set
  Requests requests_;
  bool dirty_ = true;
  std::vector<Entry> windows_;
};
