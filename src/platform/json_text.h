#pragma once
// Compact JSON output: strings escaped as the dump's other readers do (only quotes, backslashes
// and control characters; every other character raw UTF-8).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace salvora {

std::string json_string(std::string_view utf8);

class JsonObject {
 public:
  JsonObject& add(std::string_view key, std::string_view value);
  JsonObject& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
  JsonObject& add(std::string_view key, std::int64_t value);
  JsonObject& add_null(std::string_view key);
  JsonObject& add_raw(std::string_view key, std::string_view json);
  template <typename T>
  JsonObject& add_optional(std::string_view key, const std::optional<T>& value) {
    return value ? add(key, *value) : add_null(key);
  }
  std::string str() const { return text_ + "}"; }

 private:
  void key(std::string_view k);
  std::string text_ = "{";
  bool first_ = true;
};

}  // namespace salvora
