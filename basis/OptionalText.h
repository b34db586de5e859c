#pragma once
// A text field that costs one pointer while it is empty.
//
// Every persistable object has a file name that only objects loaded or
// stored by name ever set. A std::string takes 32 bytes in place; this keeps
// it behind a pointer. It reads as a const std::string& and is assigned texts.

#include <memory>
#include <string>
#include <utility>

class OptionalText {
 public:
  OptionalText() = default;
  OptionalText(const OptionalText&) = delete;
  // Takes a copy first, so assigning a field its own text is safe.
  OptionalText& operator=(const OptionalText& other) { return *this = other.str(); }
  OptionalText& operator=(std::string text) {
    if (text.empty()) {
      text_.reset();
    } else if (text_) {
      *text_ = std::move(text);
    } else {
      text_ = std::make_unique<std::string>(std::move(text));
    }
    return *this;
  }

  const std::string& str() const noexcept {
    static const std::string empty;
    return text_ ? *text_ : empty;
  }
  operator const std::string&() const noexcept { return str(); }  // NOLINT: reads like the string it holds

 private:
  std::unique_ptr<std::string> text_;
};
