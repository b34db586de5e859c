#pragma once
// Base64 in the standard alphabet of RFC 2045, with "=" padding and no line
// breaks: attachment lines and AUTH credentials.

#include <cstddef>
#include <string>

std::string base64Encode(const unsigned char* data, size_t length);
inline std::string base64Encode(const std::string& bytes) {
  return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
