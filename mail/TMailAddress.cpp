#include "mail/TMailAddress.h"

#include "basis/TStringTokenizer.h"
#include "mail/MailExceptions.h"

TMailAddress::TMailAddress(const std::string& address) : TMappedObject(TBlank{}) {
  setAddress(address);
}

TMailAddress::TMailAddress(const std::string& name, const std::string& address)
    : TMappedObject(TBlank{}) {
  setName(name);
  setAddress(address);
}

bool TMailAddress::isValid(const std::string& address) {
  size_t at = address.find('@');
  return address.size() >= 3 && at != std::string::npos && at != 0 && at != address.size() - 1 &&
         address.find(' ') == std::string::npos;
}

void TMailAddress::setAddress(const std::string& text) {
  if (!isValid(text)) throw IllegalMailAddressException("TMailAddress: Illegal address: '" + text + "'.");
  address_ = text;
}

std::unique_ptr<TMailAddress> TMailAddress::fromString(const std::string& text) {
  TStringTokenizer tokens(text, " <>\"'");
  if (!tokens.hasMoreTokens()) {
    throw IllegalMailAddressException("TMailAddress: Illegal address: '" + text + ".'");
  }
  std::string name, address;
  while (tokens.hasMoreTokens()) {
    std::string token = tokens.nextToken();
    if (token.find('@') != std::string::npos) {
      address = token;
      break;
    }
    if (!name.empty()) name += ' ';
    name += token;
  }
  return std::make_unique<TMailAddress>(name, address);
}

std::string TMailAddress::toString() const {
  if (name_.empty()) return address_;
  return "\"" + name_ + "\" <" + address_ + ">";
}

std::unique_ptr<TMappedObject> TMailAddress::clone() const {
  return std::make_unique<TMailAddress>(name_, address_);
}
