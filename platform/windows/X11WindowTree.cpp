#include "platform/windows/X11WindowTree.h"

#include <algorithm>
#include <utility>

X11WindowTree::X11WindowTree(Window root) : root_(root) { nodes_[root].depth = -1; }

const X11WindowTree::Node* X11WindowTree::find(Window window) const {
  auto it = nodes_.find(window);
  return it != nodes_.end() ? &it->second : nullptr;
}

X11WindowTree::Node* X11WindowTree::find(Window window) {
  auto it = nodes_.find(window);
  return it != nodes_.end() ? &it->second : nullptr;
}

void X11WindowTree::attach(Window window, Window parent) {
  Node& above = nodes_.at(parent);
  above.children.push_back(window);
  Node& node = nodes_[window];
  node.parent = parent;
  node.depth = above.depth + 1;
  requests_.describe.push_back(window);
  considerTitles(window);
  dirty_ = true;
}

void X11WindowTree::considerTitles(Window window) {
  Node& node = nodes_.at(window);
  if (node.titlesAsked || !(node.depth == 0 || node.wmState || listed_.count(window) != 0)) return;
  node.titlesAsked = true;
  requests_.titles.push_back(window);
}

void X11WindowTree::detach(Window window) {
  Node& node = nodes_.at(window);
  std::erase(nodes_.at(node.parent).children, window);
  dirty_ = true;
}

void X11WindowTree::drop(Window window, bool exists) {
  detach(window);
  std::vector<Window> pending{window};
  while (!pending.empty()) {
    Window w = pending.back();
    pending.pop_back();
    auto it = nodes_.find(w);
    pending.insert(pending.end(), it->second.children.begin(), it->second.children.end());
    nodes_.erase(it);
    if (exists) requests_.forget.push_back(w);
  }
}

void X11WindowTree::moveTo(Window window, int depth) {
  Node& node = nodes_.at(window);
  const int old = node.depth;
  node.depth = depth;
  if (old == depth) return;
  if (depth == MAX_DEPTH) {
    // Its children would lie deeper than anything the rules look at.
    const std::vector<Window> children = node.children;
    for (Window child : children) drop(child, true);
    requests_.narrow.push_back(window);
  } else if (old == MAX_DEPTH) {
    // Its children were never followed: the caller asks for them.
    requests_.describe.push_back(window);
  } else {
    for (Window child : node.children) moveTo(child, depth + 1);
  }
}

void X11WindowTree::created(Window parent, Window window) {
  const Node* above = find(parent);
  if (follows(window) || above == nullptr || above->depth >= MAX_DEPTH) return;
  attach(window, parent);
}

void X11WindowTree::destroyed(Window window) {
  if (window != root_ && follows(window)) drop(window, false);
}

void X11WindowTree::reparented(Window window, Window parent) {
  Node* node = find(window);
  const Node* above = find(parent);
  if (window == root_) return;
  const bool fits = above != nullptr && above->depth < MAX_DEPTH;
  if (node == nullptr) {
    if (fits) attach(window, parent);
  } else if (!fits) {
    drop(window, true);
  } else {
    // A reparented window goes on top of its new siblings.
    detach(window);
    node->parent = parent;
    nodes_.at(parent).children.push_back(window);
    moveTo(window, above->depth + 1);
    considerTitles(window);
  }
}

void X11WindowTree::restacked(Window window, Window below) {
  const Node* node = find(window);
  if (node == nullptr || window == root_) return;
  std::vector<Window>& siblings = nodes_.at(node->parent).children;
  auto at = std::find(siblings.begin(), siblings.end(), window);
  auto under = below == 0 ? siblings.end() : std::find(siblings.begin(), siblings.end(), below);
  // Already in place: a move or a resize, no restacking.
  if (below == 0 ? at == siblings.begin() : (under != siblings.end() && under + 1 == at)) return;
  siblings.erase(at);
  if (below == 0) {
    siblings.insert(siblings.begin(), window);
  } else {
    // A sibling it does not know yet goes on top; the children's reply that
    // is on its way puts it right.
    under = std::find(siblings.begin(), siblings.end(), below);
    siblings.insert(under == siblings.end() ? siblings.end() : under + 1, window);
  }
  dirty_ = true;
}

void X11WindowTree::circulated(Window window, bool toTop) {
  const Node* node = find(window);
  if (node == nullptr || window == root_) return;
  std::vector<Window>& siblings = nodes_.at(node->parent).children;
  std::erase(siblings, window);
  siblings.insert(toTop ? siblings.end() : siblings.begin(), window);
  dirty_ = true;
}

void X11WindowTree::setChildren(Window parent, const std::vector<Window>& children) {
  Node* above = find(parent);
  if (above == nullptr || above->depth >= MAX_DEPTH) return;
  // Children it had that the server no longer lists went away unseen.
  const std::vector<Window> old = above->children;
  for (Window child : old) {
    if (std::find(children.begin(), children.end(), child) == children.end()) drop(child, true);
  }
  for (Window child : children) {
    Node* node = find(child);
    if (node == nullptr) {
      attach(child, parent);
    } else if (node->parent != parent) {
      reparented(child, parent);
    }
  }
  nodes_.at(parent).children = children;
  dirty_ = true;
}

void X11WindowTree::setWmState(Window window, bool present) {
  Node* node = find(window);
  if (node == nullptr || node->wmState == present) return;
  node->wmState = present;
  considerTitles(window);
  dirty_ = true;
}

void X11WindowTree::setTitle(Window window, TitleProperty which, bool set, std::string text) {
  Node* node = find(window);
  if (node == nullptr) return;
  bool& isSet = which == TitleProperty::NetWmName ? node->netSet : node->nameSet;
  std::string& value = which == TitleProperty::NetWmName ? node->net : node->name;
  if (!set) text.clear();
  if (text.size() > MAX_TITLE_BYTES) text.resize(MAX_TITLE_BYTES);
  if (isSet == set && value == text) return;
  isSet = set;
  value = std::move(text);
  dirty_ = true;
}

void X11WindowTree::setManaged(bool managed) {
  if (managed_ == managed) return;
  managed_ = managed;
  dirty_ = true;
}

void X11WindowTree::setClientList(bool valid, std::vector<Window> clients) {
  if (!valid) clients.clear();
  if (listValid_ == valid && clients_ == clients) return;
  listValid_ = valid;
  clients_ = std::move(clients);
  listed_ = std::unordered_set<Window>(clients_.begin(), clients_.end());
  for (Window client : clients_) {
    if (client != root_ && follows(client)) considerTitles(client);
  }
  dirty_ = true;
}

X11WindowTree::Requests X11WindowTree::takeRequests() { return std::exchange(requests_, Requests()); }

const std::string& X11WindowTree::titleOf(const Node& node) { return node.netSet ? node.net : node.name; }

X11WindowTree::Window X11WindowTree::searchClient(const Node& top) const {
  std::vector<Window> level = top.children;
  for (int depth = 1; depth <= SEARCH_LEVELS && !level.empty(); ++depth) {
    std::vector<Window> next;
    for (Window w : level) {
      const Node& node = nodes_.at(w);
      if (node.wmState) return w;
      next.insert(next.end(), node.children.begin(), node.children.end());
    }
    level = std::move(next);
  }
  return 0;
}

std::vector<X11WindowTree::Entry> X11WindowTree::resolve() const {
  const std::vector<Window>& tops = nodes_.at(root_).children;
  // The client window of each top-level window that is not its own.
  std::unordered_map<Window, Window> clientOf;
  if (managed_ && listValid_) {
    // Each listed client belongs to the top-level window above it; a client
    // at most one level down wins over deeper ones, then list order decides.
    struct Claim {
      int level;
      Window top;
      Window client;
    };
    std::vector<Claim> claims;
    for (Window client : clients_) {
      const Node* node = find(client);
      if (node == nullptr || client == root_) continue;
      Window top = client;
      while (nodes_.at(top).depth > 0) top = nodes_.at(top).parent;
      claims.push_back({std::max(node->depth, 1), top, client});
    }
    std::stable_sort(claims.begin(), claims.end(), [](const Claim& a, const Claim& b) { return a.level < b.level; });
    for (const Claim& claim : claims) clientOf.emplace(claim.top, claim.client);
  } else {
    for (Window top : tops) {
      const Node& node = nodes_.at(top);
      // Without a manager a titled window is its own client; under one, a
      // window carrying WM_STATE.
      if (managed_ ? node.wmState : hasTitle(node)) continue;
      Window client = searchClient(node);
      if (client != 0) clientOf.emplace(top, client);
    }
  }
  std::vector<Entry> result;
  result.reserve(tops.size());
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    auto client = clientOf.find(*it);
    result.push_back({*it, titleOf(nodes_.at(client != clientOf.end() ? client->second : *it))});
  }
  return result;
}

bool X11WindowTree::refresh() {
  if (!dirty_) return false;
  dirty_ = false;
  std::vector<Entry> now = resolve();
  if (now == windows_) return false;
  windows_ = std::move(now);
  return true;
}
