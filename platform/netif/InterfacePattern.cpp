#include "platform/netif/InterfacePattern.h"

#include <net/if.h>

#include <utility>

#include "basis/Exceptions.h"

namespace {

// White space as the kernel's own test for interface names counts it: the
// C locale's blanks and the Latin-1 no-break space.
bool isKernelSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0; }

// Why the kernel would refuse `name`, or nullptr when it takes it.
const char* refusal(std::string_view name) {
  if (name.empty()) return "it is empty";
  if (name.size() >= IFNAMSIZ) return "it is longer than 15 bytes";
  if (name == "." || name == "..") return "it is . or ..";
  for (char c : name) {
    if (c == '/') return "it contains '/'";
    if (c == ':') return "it contains ':'";
    if (c == '\0') return "it contains a zero byte";
    if (isKernelSpace(static_cast<unsigned char>(c))) return "it contains white space";
  }
  return nullptr;
}

}  // namespace

InterfacePattern::InterfacePattern(std::string text) : text_(std::move(text)) {
  prefix_ = text_.back() == '*';
}

InterfacePattern InterfacePattern::parse(const std::string& key, const std::string& value) {
  const char* reason = refusal(value);
  if (reason == nullptr && value.find('*') < value.size() - 1) reason = "'*' may only stand at its end";
  if (reason != nullptr) {
    throw IllegalPropertyValueException("InterfacePattern: Key: " + key + " with value '" + value +
                                        "' is no interface name: " + reason + ".");
  }
  return InterfacePattern(value);
}

bool InterfacePattern::matches(std::string_view interfaceName) const noexcept {
  if (!prefix_) return interfaceName == text_;
  return interfaceName.starts_with(std::string_view(text_).substr(0, text_.size() - 1));
}
