#include "basis/Exceptions.h"

#include <new>
#include <stdexcept>
#include <system_error>

namespace {
std::string tailFrom(const std::string& text, int32_t position) {
  // Positions count from 1; anything before the text quotes all of it.
  if (position <= 1) return text;
  if (static_cast<size_t>(position) > text.size()) return {};
  return text.substr(static_cast<size_t>(position) - 1);
}
}  // namespace

ParserException::ParserException(std::string method, std::string reason, std::string text,
                                 int32_t position)
    : Exception(method + ": " + reason + ": '" + tailFrom(text, position) + "'."),
      method_(std::move(method)),
      reason_(std::move(reason)),
      text_(std::move(text)),
      position_(position) {}

std::string exceptionClassName(const std::exception& e) {
  if (auto* own = dynamic_cast<const Exception*>(&e)) return own->className();
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "std::bad_alloc";
  if (dynamic_cast<const std::out_of_range*>(&e)) return "std::out_of_range";
  if (dynamic_cast<const std::invalid_argument*>(&e)) return "std::invalid_argument";
  if (dynamic_cast<const std::system_error*>(&e)) return "std::system_error";
  if (dynamic_cast<const std::runtime_error*>(&e)) return "std::runtime_error";
  if (dynamic_cast<const std::logic_error*>(&e)) return "std::logic_error";
  return "std::exception";
}

std::string wrappedText(const std::exception& e) {
  return "(" + exceptionClassName(e) + ") " + e.what();
}
