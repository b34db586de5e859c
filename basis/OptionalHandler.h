#pragma once
// A handler field that costs one pointer while it is not set.
//
// Every persistable object carries optional read, write and print handlers
// that almost no object ever sets. A std::function takes 32 bytes in place;
// this holds it behind a pointer, so a table of a hundred thousand small
// objects does not pay three of those each. It is used like the function it
// wraps: assigned a callable or nullptr, tested, called.

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

template <class Signature>
class OptionalHandler;

template <class R, class... Args>
class OptionalHandler<R(Args...)> {
 public:
  using Function = std::function<R(Args...)>;

  // Any callable std::function accepts; nullptr or an empty function unsets.
  template <class F, class = std::enable_if_t<std::is_constructible_v<Function, F>>>
  OptionalHandler& operator=(F&& f) {
    Function function(std::forward<F>(f));
    function_ = function ? std::make_unique<Function>(std::move(function)) : nullptr;
    return *this;
  }

  explicit operator bool() const noexcept { return function_ != nullptr; }
  // Calling an unset handler throws std::bad_function_call, as std::function does.
  R operator()(Args... args) const {
    if (!function_) throw std::bad_function_call();
    return (*function_)(std::forward<Args>(args)...);
  }

 private:
  std::unique_ptr<Function> function_;
};
