#pragma once
// Which network interfaces belong to a connection: one interface name
// ("wg0"), or a name ending in one '*' that matches every interface whose
// name begins with the part before it ("ppp*": ppp0, ppp1, ...).

#include <string>
#include <string_view>

class InterfacePattern {
 public:
  // The pattern written as `value` under the configuration key `key`.
  // Throws IllegalPropertyValueException naming the key and the reason when
  // the kernel would refuse the name (empty, longer than 15 bytes, "." or
  // "..", a '/', ':', zero byte or white space in it) or a '*' stands
  // anywhere but at the end.
  static InterfacePattern parse(const std::string& key, const std::string& value);

  bool matches(std::string_view interfaceName) const noexcept;
  // The pattern as written.
  const std::string& text() const noexcept { return text_; }
  // It ends in '*': names beginning with the text before it match.
  bool isPrefix() const noexcept { return prefix_; }

 private:
  explicit InterfacePattern(std::string text);
  std::string text_;
  bool prefix_ = false;  // text_ ends in '*'
};
