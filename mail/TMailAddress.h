#pragma once
// One mail address with an optional display name. An address always passes
// isValid once the object exists.

#include <memory>
#include <string>

#include "basis/TMappedObject.h"

class TMailAddress : public TMappedObject {
  MORVANE_CLASS(TMailAddress, TMappedObject)

  // Both raise IllegalMailAddressException "TMailAddress: Illegal address: '<text>'."
  // for an invalid address.
  explicit TMailAddress(const std::string& address);
  TMailAddress(const std::string& name, const std::string& address);

  // Reads header-style text: a display name (quoted or not) followed by the
  // address, in angle brackets or not. The first token holding "@" is the
  // address; the tokens before it, joined by blanks, the name.
  static std::unique_ptr<TMailAddress> fromString(const std::string& text);
  // At least 3 characters, an "@" that is neither first nor last (only the
  // first "@" counts), and no blank.
  static bool isValid(const std::string& address);

  void setName(const std::string& text) { name_ = text; }
  void setAddress(const std::string& text);
  const std::string& getName() const noexcept { return name_; }
  const std::string& getAddress() const noexcept { return address_; }

  // "\"name\" <address>", or the bare address without a name.
  std::string toString() const override;
  std::unique_ptr<TMappedObject> clone() const override;

 private:
  std::string name_;
  std::string address_;
};
