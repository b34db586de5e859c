#pragma once
// A source whose state Qt's event loop keeps current (the live window list,
// the network interfaces) tells its user when that state may have changed,
// so the user looks at once instead of waiting for its next poll.
//
// The handler runs on the event loop, possibly from inside the source's own
// event processing: it must not call back into the source (no poll), only
// note or schedule the look. Several changes may come as one call, and a
// call may come when nothing the user cares about changed.

#include <functional>
#include <utility>

class ChangeNotifier {
 public:
  using Handler = std::function<void()>;

  virtual ~ChangeNotifier() = default;

  // Replaces the handler; an empty one switches the notification off.
  void setChangeHandler(Handler handler) { changed_ = std::move(handler); }

 protected:
  void notifyChanged() const {
    if (changed_) changed_();
  }

 private:
  Handler changed_;
};
