#pragma once
// Tells code that calls out to a notification handler whether its object
// survived the call: a handler may destroy the object that notified it, and
// the object must then touch nothing of itself any more.
//
//   if (!life_.notify(OnCommand, this, command)) return;  // gone: touch nothing
//
// Around calls that reach handlers further down, keep a watch:
//
//   LifeGuard::Watch alive = life_.watch();
//   socket_->Close();
//   if (!alive) return;
//
// The guard is a member of the object and dies with it; a watch outlives it.

#include <memory>
#include <utility>

class LifeGuard {
 public:
  class Watch {
   public:
    explicit operator bool() const { return !token_.expired(); }

   private:
    friend class LifeGuard;
    explicit Watch(const std::shared_ptr<const bool>& token) : token_(token) {}
    std::weak_ptr<const bool> token_;
  };

  LifeGuard() = default;
  LifeGuard(const LifeGuard&) = delete;
  LifeGuard& operator=(const LifeGuard&) = delete;

  Watch watch() const { return Watch(token_); }

  // Calls handler(args...) when it is set; false when the owner was
  // destroyed during the call.
  template <class Handler, class... Args>
  bool notify(const Handler& handler, Args&&... args) const {
    if (!handler) return true;
    Watch alive(token_);
    handler(std::forward<Args>(args)...);
    return static_cast<bool>(alive);
  }

 private:
  std::shared_ptr<const bool> token_ = std::make_shared<const bool>(true);
};
