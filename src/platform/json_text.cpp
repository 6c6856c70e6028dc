#include "platform/json_text.h"

#include <cstdio>

namespace salvora {

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

void JsonObject::key(std::string_view k) {
  if (!first_) text_.push_back(',');
  first_ = false;
  text_ += json_string(k);
  text_.push_back(':');
}

JsonObject& JsonObject::add(std::string_view k, std::string_view value) {
  key(k);
  text_ += json_string(value);
  return *this;
}

JsonObject& JsonObject::add(std::string_view k, std::int64_t value) {
  key(k);
  text_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::add_null(std::string_view k) {
  key(k);
  text_ += "null";
  return *this;
}

JsonObject& JsonObject::add_raw(std::string_view k, std::string_view json) {
  key(k);
  text_ += json;
  return *this;
}

}  // namespace salvora
