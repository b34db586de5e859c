#include "report/ConnectionNames.h"

#include <algorithm>

namespace {

// Length of the UTF-8 sequence at text[at], or 0 when none starts there
// (overlong forms, surrogates and values beyond U+10FFFF are none).
size_t utf8SequenceAt(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

bool isUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace

ConnectionNames::ConnectionNames(std::vector<std::string> chosen) : chosen_(std::move(chosen)) {}

std::string ConnectionNames::asUtf8(std::string_view bytes) {
  if (isUtf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

uint32_t ConnectionNames::idOf(std::string_view name) {
  for (const Recent& recent : recent_) {
    if (recent.used && recent.name == name) return recent.id;
  }
  uint32_t id;
  if (auto known = ids_.find(name); known != ids_.end()) {
    id = known->second;
  } else {
    const bool wanted = chosen_.empty() || std::any_of(chosen_.begin(), chosen_.end(), [&](const std::string& c) {
                          return c == name || c == asUtf8(name);
                        });
    id = wanted ? static_cast<uint32_t>(names_.size()) : EXCLUDED;
    if (wanted) {
      names_.emplace_back(name);
      texts_.push_back(asUtf8(name));
    }
    ids_.emplace(std::string(name), id);
  }
  Recent& recent = recent_[nextRecent_++ % std::size(recent_)];
  recent = Recent{std::string(name), id, true};
  return id;
}
