#include "platform/windows/X11WindowSource.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xfixes.h>

#include <QTimer>
#include <unordered_set>
#include <utility>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/DisplayCheck.h"
#include "platform/windows/WindowPoll.h"

namespace {

// What the messages name as their origin: the name this source had when users
// and callers first saw them, kept so that nothing matching them breaks.
const char* const MESSAGE_ORIGIN = "X11WindowEnumerator.";

constexpr uint32_t FOLLOW_MASK = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
// Property lengths are counted in 32-bit units.
constexpr uint32_t TITLE_UNITS = X11WindowTree::MAX_TITLE_BYTES / 4;
// Events and replies handled in one go before the event loop gets its turn.
constexpr int BATCH_LIMIT = 10000;

// Whether request or event number `a` came before `b` (they wrap around).
bool before(unsigned int a, unsigned int b) { return static_cast<int32_t>(a - b) < 0; }

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

std::string bytesOf(const xcb_get_property_reply_t* reply) {
  auto length = static_cast<size_t>(xcb_get_property_value_length(reply));
  return std::string(static_cast<const char*>(xcb_get_property_value(reply)), length);
}

}  // namespace

X11WindowSource::X11WindowSource(const std::string& displayName) {
  displayName_ = ::displayName(displayName, "DISPLAY");
  if (displayName_.empty()) {
    throw IOException(std::string(MESSAGE_ORIGIN) + "<init>: No X display: DISPLAY is not set.");
  }
  int screenNumber = 0;
  connection_ = xcb_connect(displayName_.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection_) != 0) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    throw IOException(std::string(MESSAGE_ORIGIN) + "<init>: Cannot connect to the X display \"" + displayName_ +
                      "\".");
  }
  try {
    readTree(screenNumber);
  } catch (...) {
    release();
    throw;
  }
  watchDescriptor();
}

void X11WindowSource::readTree(int screenNumber) {
  xcb_connection_t* c = connection_;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) {
    fail("<init>", "has no screen " + std::to_string(screenNumber));
  }
  root_ = screens.data->root;

  xcb_prefetch_extension_data(c, &xcb_xfixes_id);
  const std::string names[] = {"_NET_WM_NAME", "UTF8_STRING", "WM_STATE", "WM_S" + std::to_string(screenNumber),
                               "_NET_CLIENT_LIST"};
  xcb_intern_atom_cookie_t cookies[5];
  for (int i = 0; i < 5; ++i) {
    cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(names[i].size()), names[i].c_str());
  }
  uint32_t* atoms[] = {&netWmName_, &utf8String_, &wmState_, &wmSelection_, &clientList_};
  for (int i = 0; i < 5; ++i) {
    xcb_generic_error_t* error = nullptr;
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookies[i], &error);
    if (reply != nullptr) *atoms[i] = reply->atom;
    std::free(reply);
    std::free(error);
  }
  if (xcb_connection_has_error(c) != 0 || netWmName_ == XCB_NONE || utf8String_ == XCB_NONE ||
      wmState_ == XCB_NONE || wmSelection_ == XCB_NONE || clientList_ == XCB_NONE) {
    fail("<init>", "does not answer");
  }

  // Who holds the manager selection, told by the server as it changes.
  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
  if (xfixes != nullptr && xfixes->present) {
    xcb_discard_reply(c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION).sequence);
    xcb_xfixes_select_selection_input(c, root_, wmSelection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xfixesEvent_ = xfixes->first_event;
  }

  // Events first, then the state they change, so that nothing falls between.
  tree_ = std::make_unique<X11WindowTree>(root_);
  xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &FOLLOW_MASK);
  awaitTrigger_ = true;
  expect(Pending::Kind::Owner, 0, xcb_get_selection_owner(c, wmSelection_).sequence);
  expect(Pending::Kind::ClientList, root_,
         xcb_get_property(c, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 1u << 20).sequence);
  expect(Pending::Kind::Children, root_, xcb_query_tree(c, root_).sequence);
  awaitTrigger_ = false;
  barrier_ = pending_.back().sequence;
  settle();
  if (xcb_connection_has_error(c) != 0) fail("<init>", "does not answer");
}

X11WindowSource::~X11WindowSource() { release(); }

void X11WindowSource::release() {
  readable_.reset();
  std::free(next_);
  next_ = nullptr;
  for (Pending& pending : pending_) {
    std::free(pending.reply);
    std::free(pending.error);
  }
  pending_.clear();
  xcb_disconnect(connection_);
  connection_ = nullptr;
}

void X11WindowSource::fail(const char* operation, const std::string& what) const {
  throw IOException(std::string(MESSAGE_ORIGIN) + operation + ": The X display \"" + displayName_ + "\" " +
                    what + ".");
}

void X11WindowSource::checkConnection(const char* operation) const {
  if (xcb_connection_has_error(connection_) != 0) {
    throw IOException(std::string(MESSAGE_ORIGIN) + operation + ": Connection to the X display \"" +
                      displayName_ + "\" is broken.");
  }
}

void X11WindowSource::expect(Pending::Kind kind, uint32_t window, unsigned int sequence) {
  pending_.push_back({kind, window, sequence, awaitTrigger_});
  if (awaitTrigger_) ++awaitedCount_;
}

void X11WindowSource::askFor(Pending::Kind kind, uint32_t window) {
  xcb_connection_t* c = connection_;
  xcb_get_property_cookie_t cookie;
  if (kind == Pending::Kind::NetWmName) {
    cookie = xcb_get_property(c, 0, window, netWmName_, utf8String_, 0, TITLE_UNITS);
  } else if (kind == Pending::Kind::WmName) {
    cookie = xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, TITLE_UNITS);
  } else {
    cookie = xcb_get_property(c, 0, window, wmState_, wmState_, 0, 0);
  }
  expect(kind, window, cookie.sequence);
}

void X11WindowSource::askAbout(const X11WindowTree::Requests& requests) {
  xcb_connection_t* c = connection_;
  const uint32_t none = 0, propertiesOnly = XCB_EVENT_MASK_PROPERTY_CHANGE;
  // The requests of a whole batch: only what the tree follows now counts.
  std::unordered_set<uint32_t> described;
  for (uint32_t window : requests.forget) {
    if (!tree_->follows(window)) xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &none);
  }
  for (uint32_t window : requests.describe) {
    if (!tree_->follows(window) || !described.insert(window).second) continue;
    // At the deepest level only a listed client's title can matter.
    const bool above = tree_->depth(window) < X11WindowTree::MAX_DEPTH;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, above ? &FOLLOW_MASK : &propertiesOnly);
    if (above) {
      expect(Pending::Kind::Children, window, xcb_query_tree(c, window).sequence);
      askFor(Pending::Kind::WmState, window);
    }
  }
  std::unordered_set<uint32_t> titled;
  for (uint32_t window : requests.titles) {
    if (!tree_->followsTitles(window) || !titled.insert(window).second) continue;
    askFor(Pending::Kind::NetWmName, window);
    askFor(Pending::Kind::WmName, window);
  }
  for (uint32_t window : requests.narrow) {
    if (tree_->follows(window) && tree_->depth(window) == X11WindowTree::MAX_DEPTH && described.count(window) == 0) {
      xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &propertiesOnly);
    }
  }
}

void X11WindowSource::handleEvent(const void* generic) {
  xcb_connection_t* c = connection_;
  const auto* event = static_cast<const xcb_generic_event_t*>(generic);
  const uint8_t type = event->response_type & 0x7F;
  // The old and the new parent each report a reparenting, one right after
  // the other: the second report is the same change.
  const Reparenting last = std::exchange(lastReparenting_, Reparenting());
  switch (type) {
    case XCB_CREATE_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_create_notify_event_t*>(event);
      tree_->created(e->parent, e->window);
      return;
    }
    case XCB_DESTROY_NOTIFY:
      tree_->destroyed(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
      return;
    case XCB_REPARENT_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
      lastReparenting_ = {e->window, e->parent, event->full_sequence};
      if (last != lastReparenting_) tree_->reparented(e->window, e->parent);
      return;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      if (e->event != e->window) tree_->restacked(e->window, e->above_sibling);
      return;
    }
    case XCB_CIRCULATE_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_circulate_notify_event_t*>(event);
      tree_->circulated(e->window, e->place == XCB_PLACE_ON_TOP);
      return;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
      const uint32_t w = e->window;
      if (w == root_) {
        if (e->atom == clientList_) {
          expect(Pending::Kind::ClientList, w,
                 xcb_get_property(c, 0, w, clientList_, XCB_ATOM_WINDOW, 0, 1u << 20).sequence);
        }
      } else if (e->atom == netWmName_ && tree_->followsTitles(w)) {
        askFor(Pending::Kind::NetWmName, w);
      } else if (e->atom == XCB_ATOM_WM_NAME && tree_->followsTitles(w)) {
        askFor(Pending::Kind::WmName, w);
      } else if (e->atom == wmState_ && tree_->follows(w) && tree_->depth(w) < X11WindowTree::MAX_DEPTH) {
        askFor(Pending::Kind::WmState, w);
      }
      return;
    }
    default:
      if (xfixesEvent_ != 0 && type == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto* e = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        if (e->selection == wmSelection_) tree_->setManaged(e->owner != XCB_NONE);
      }
      // Errors are those of windows destroyed before a request about them
      // reached the server: their destruction is an event of its own.
      return;
  }
}

void X11WindowSource::applyReply(const Pending& pending) {
  if (pending.reply == nullptr) return;  // the window is gone, or the connection
  const uint32_t w = pending.window;
  switch (pending.kind) {
    case Pending::Kind::Children: {
      const auto* tree = static_cast<const xcb_query_tree_reply_t*>(pending.reply);
      const xcb_window_t* children = xcb_query_tree_children(tree);
      tree_->setChildren(w, std::vector<uint32_t>(children, children + xcb_query_tree_children_length(tree)));
      return;
    }
    case Pending::Kind::Owner:
      tree_->setManaged(static_cast<const xcb_get_selection_owner_reply_t*>(pending.reply)->owner != XCB_NONE);
      return;
    case Pending::Kind::Barrier:
      return;
    default:
      break;
  }
  const auto* property = static_cast<const xcb_get_property_reply_t*>(pending.reply);
  switch (pending.kind) {
    case Pending::Kind::NetWmName:
      tree_->setTitle(w, X11WindowTree::TitleProperty::NetWmName,
                      property->type == utf8String_ && property->format == 8, bytesOf(property));
      return;
    case Pending::Kind::WmName: {
      std::string text = bytesOf(property);
      if (property->type == XCB_ATOM_STRING) text = latin1ToUtf8(text.data(), text.size());
      tree_->setTitle(w, X11WindowTree::TitleProperty::WmName,
                      property->type != XCB_ATOM_NONE && property->format == 8, std::move(text));
      return;
    }
    case Pending::Kind::WmState:
      tree_->setWmState(w, property->type != XCB_ATOM_NONE);
      return;
    case Pending::Kind::ClientList: {
      const bool valid = property->type == XCB_ATOM_WINDOW && property->format == 32;
      const auto* ids = static_cast<const uint32_t*>(xcb_get_property_value(property));
      std::vector<uint32_t> clients;
      if (valid) clients.assign(ids, ids + xcb_get_property_value_length(property) / 4);
      tree_->setClientList(valid, std::move(clients));
      return;
    }
    default:
      return;
  }
}

// Events and replies are handled in the order the server made them: an event
// numbered before a request came before the server handled that request, and
// so before its reply; libxcb keeps the two in separate queues.
bool X11WindowSource::handleOne() {
  xcb_connection_t* c = connection_;
  if (next_ == nullptr) next_ = xcb_poll_for_event(c);
  auto* event = static_cast<xcb_generic_event_t*>(next_);
  if (event != nullptr && (pending_.empty() || before(event->full_sequence, pending_.front().sequence))) {
    next_ = nullptr;
    awaitTrigger_ = settling_ && before(event->full_sequence, barrier_);
    handleEvent(event);
    std::free(event);
  } else if (pending_.empty()) {
    return false;
  } else if (Pending& front = pending_.front(); !front.answered) {
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(c, front.sequence, &front.reply, &error) == 0) return false;
    front.error = error;
    front.answered = true;  // events read with it may come first
    return true;
  } else {
    Pending done = front;
    pending_.pop_front();
    if (done.awaited) --awaitedCount_;
    awaitTrigger_ = done.awaited;
    applyReply(done);
    std::free(done.reply);
    std::free(done.error);
  }
  batchAwaited_ = batchAwaited_ || awaitTrigger_;
  awaitTrigger_ = false;
  return true;
}

void X11WindowSource::askAboutBatch() {
  awaitTrigger_ = batchAwaited_;
  askAbout(tree_->takeRequests());
  awaitTrigger_ = false;
  batchAwaited_ = false;
}

int X11WindowSource::pump(bool wait) {
  xcb_connection_t* c = connection_;
  int handled = 0;
  while (xcb_connection_has_error(c) == 0) {
    if (wait ? awaitedCount_ == 0 && !batchAwaited_ : handled >= BATCH_LIMIT) break;
    if (handleOne()) {
      ++handled;
      continue;
    }
    // Nothing more without waiting. What the batch asked for goes out only
    // now, so a window that came and went within it costs no request.
    askAboutBatch();
    if (!wait || awaitedCount_ == 0) break;
    Pending& front = pending_.front();
    xcb_generic_error_t* error = nullptr;
    front.reply = xcb_wait_for_reply(c, front.sequence, &error);
    front.error = error;
    front.answered = true;
  }
  askAboutBatch();
  return handled;
}

void X11WindowSource::finishBatch() {
  // Flushing reads whatever arrives while it waits to write: that is
  // handled too, until a round leaves nothing to send. A flood of events is
  // served a few batches at a time, the event loop getting its turn between.
  bool more = true;
  for (int round = 0; round < 4 && more; ++round) {
    more = pump(false) > 0;
    xcb_flush(connection_);
  }
  if (more && readable_ != nullptr && readable_->context() != nullptr) {
    QTimer::singleShot(0, readable_->context(), [this] { finishBatch(); });
  }
  if (tree_->refresh()) notifyChanged();
}

void X11WindowSource::settle() {
  settling_ = true;
  pump(true);
  settling_ = false;
  finishBatch();
}

void X11WindowSource::settleAfter(Pending::Kind kind, unsigned int sequence) {
  awaitTrigger_ = true;
  expect(kind, 0, sequence);
  awaitTrigger_ = false;
  barrier_ = sequence;
  settle();
}

void X11WindowSource::sync() {
  checkConnection("sync");
  settleAfter(Pending::Kind::Barrier, xcb_get_input_focus(connection_).sequence);
  checkConnection("sync");
}

void X11WindowSource::watchDescriptor() {
  readable_ = std::make_unique<DescriptorWatch>(
      xcb_get_file_descriptor(connection_), DescriptorWatch::Event::Readable,
      [this] {
        finishBatch();
        return xcb_connection_has_error(connection_) == 0;
      },
      [this] { notifyChanged(); });
}

int32_t X11WindowSource::enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) {
  checkConnection("enumWindows");
  if (xfixesEvent_ == 0) {
    // Without XFIXES no event tells when a manager comes or goes.
    settleAfter(Pending::Kind::Owner, xcb_get_selection_owner(connection_, wmSelection_).sequence);
  } else {
    finishBatch();
  }
  checkConnection("enumWindows");
  return pollWindows(tree_->windows(), maxTitleBytes, callback, value,
                     [](const X11WindowTree::Entry& entry) { return PolledWindow{entry.window, entry.title}; });
}
