#pragma once
// The top-level windows of an X server with their titles, from a live list.
//
// One object holds one connection to the X server for its whole life. It
// reads the window tree once when it is made and from then on follows the
// server's events: structure changes (SubstructureNotify) on the root and on
// every window down to a few levels below it, property changes on the same
// windows (titles, WM_STATE, the root's client list), and the window
// manager's selection (XFIXES). Where an event leaves something to ask (a
// new window's properties and children), the request goes out at once and
// its reply is applied in the order the server made it, among the events. A
// poll (enumWindows) applies whatever has arrived, without waiting, and then
// calls a plain callback once per window, top of the stacking order first,
// until the callback returns false: it reads memory and makes no round trip.
// Events are read whenever Qt's event loop finds the connection readable
// (when a QCoreApplication exists), and by every poll.
//
// Which windows count: every child of the screen's root window, mapped or
// not, override-redirect or not, the caller's own windows included.
// Under a reparenting window manager the root's children are the manager's
// frames; the title of such a frame is taken from the client window inside
// it: a window the manager lists in _NET_CLIENT_LIST, or else (managers
// without that list) the first window carrying WM_STATE, searched level by
// level as ICCCM tools do. Without a window manager (nobody owns WM_S<n>) a
// titled top-level window is its own client and only untitled ones are
// searched. Clients are looked for at most four levels below their frame
// (five for listed ones).
// Title: _NET_WM_NAME (UTF-8) when the window has it, else WM_NAME (Latin-1
// STRING is converted to UTF-8, other encodings are passed on as they are);
// a window without either has the empty title. Titles are kept to their
// first 4,096 bytes.
//
// The change handler (ChangeNotifier) is called whenever a batch of events
// changed the list: a window came, went, was restacked or retitled, or its
// client changed. Right after a change the list may still wait for a reply
// (a new window's title, typically well under a millisecond); a poll then
// shows what is known. Not thread-safe; it belongs to the thread that made it.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/DescriptorWatch.h"
#include "platform/windows/WindowSource.h"
#include "platform/windows/X11WindowTree.h"

struct xcb_connection_t;

// The window id handed to the callback is the X window id of the top-level
// window.
class X11WindowSource : public WindowSource {
 public:
  // Connects to `displayName`, or to $DISPLAY when it is empty, and reads the
  // window tree (one round trip per level, here only). Throws IOException
  // when there is no display to connect to or the connection fails; the
  // message names the display.
  explicit X11WindowSource(const std::string& displayName = std::string());
  ~X11WindowSource() override;
  X11WindowSource(const X11WindowSource&) = delete;
  X11WindowSource& operator=(const X11WindowSource&) = delete;

  // Throws IOException when the connection to the X server is broken.
  int32_t enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) override;

  // Waits until the list holds every change the server made before this
  // call, with the replies those changes needed (one round trip, and one
  // more per level of windows new to the list). For callers that changed
  // windows themselves over another connection and want to see that now.
  // Throws IOException when the connection is broken.
  void sync();

  // The display name connected to, as given or as found in $DISPLAY.
  const std::string& displayName() const noexcept { return displayName_; }
  // Windows the list follows: the top-level ones and those below them.
  size_t trackedCount() const noexcept { return tree_ != nullptr ? tree_->size() : 0; }

 private:
  // A request whose reply is still to be applied.
  struct Pending {
    enum class Kind { Children, NetWmName, WmName, WmState, ClientList, Owner, Barrier };
    Kind kind;
    uint32_t window;
    unsigned int sequence;
    bool awaited;  // sync() or the constructor waits for it
    bool answered = false;
    void* reply = nullptr;  // libxcb's reply and error, freed with free()
    void* error = nullptr;
  };

  void checkConnection(const char* operation) const;
  void fail(const char* operation, const std::string& what) const;
  void expect(Pending::Kind kind, uint32_t window, unsigned int sequence);
  void askAbout(const X11WindowTree::Requests& requests);
  // Asks for a window's _NET_WM_NAME, WM_NAME or WM_STATE.
  void askFor(Pending::Kind kind, uint32_t window);
  void readTree(int screenNumber);
  void release();
  // Applies what has arrived; `wait`: until nothing awaited is left.
  // Returns how many events and replies it handled.
  int pump(bool wait);
  // Handles the next event or reply if it has arrived.
  bool handleOne();
  // Sends the requests the handled events and replies call for.
  void askAboutBatch();
  // `event` is libxcb's xcb_generic_event_t.
  void handleEvent(const void* event);
  void applyReply(const Pending& pending);
  // Sends what the events asked for and tells the user of a change.
  void finishBatch();
  // Handles events and replies until nothing awaited is left.
  void settle();
  // Awaits the reply to `sequence`, sent just now, and everything that the
  // events made before it call for.
  void settleAfter(Pending::Kind kind, unsigned int sequence);
  void watchDescriptor();

  std::string displayName_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  // Atoms interned once at connection time.
  uint32_t netWmName_ = 0;
  uint32_t utf8String_ = 0;
  uint32_t wmState_ = 0;
  uint32_t wmSelection_ = 0;  // WM_S<screen>, owned by an ICCCM window manager
  uint32_t clientList_ = 0;   // _NET_CLIENT_LIST, the EWMH manager's client windows
  // The first event number of XFIXES, 0 without it (then every poll asks
  // who owns the manager selection).
  uint8_t xfixesEvent_ = 0;
  std::unique_ptr<X11WindowTree> tree_;
  std::deque<Pending> pending_;
  size_t awaitedCount_ = 0;
  // While an awaited item is handled, what it asks for is awaited too.
  bool awaitTrigger_ = false;
  bool batchAwaited_ = false;  // what the batch asks for is awaited
  unsigned int barrier_ = 0;  // events made before this request are awaited
  bool settling_ = false;
  struct Reparenting {
    uint32_t window = 0, parent = 0, sequence = 0;
    bool operator==(const Reparenting&) const = default;
  };
  Reparenting lastReparenting_;  // when the last event handled was one
  void* next_ = nullptr;  // an event read, not yet handled (xcb_generic_event_t)
  std::unique_ptr<DescriptorWatch> readable_;
};
