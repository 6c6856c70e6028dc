#pragma once
// The value that crosses the automation boundary: an argument or result of Dispatch::invoke.
//
// One of: empty, an error code (a "missing" optional argument is the error kParamNotFound),
// bool, 32-bit integer, double, DATE (days since 1899-12-30 as a double, kept apart from a plain
// double so a server knows which one it was given), UTF-8 string, or an object (a shared
// Dispatch; the holders share it, and it lives while any of them does); and, for the property
// accessors, a 64-bit integer (a currency, a PT_I8, or a FILETIME given exactly), an array of
// bytes (a binary value), and an array of variants (a multi-valued property). Variants are plain
// values: copy, compare and pass them freely.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace salvora {

class Dispatch;

enum class VariantType { kEmpty, kError, kBool, kInt32, kDouble, kDate, kString, kDispatch, kInt64, kBytes, kArray };

// The error code of a "missing" optional argument (DISP_E_PARAMNOTFOUND).
inline constexpr std::int32_t kParamNotFound = static_cast<std::int32_t>(0x80020004u);

class Variant {
 public:
  Variant() = default;
  Variant(bool value) : value_(value) {}
  Variant(std::int32_t value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(std::string_view value) : value_(std::string(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}  // not a bool
  // Any server type; a null pointer is held as a null object, not as empty.
  template <class T>
    requires std::is_convertible_v<T*, Dispatch*>
  Variant(std::shared_ptr<T> object) : value_(std::shared_ptr<Dispatch>(std::move(object))) {}

  static Variant Date(double days) { return Variant(DateValue{days}); }
  static Variant Int64(std::int64_t value) { return Variant(Int64Value{value}); }
  static Variant Bytes(std::vector<std::uint8_t> bytes) { return Variant(BytesValue{std::move(bytes)}); }
  static Variant Array(std::vector<Variant> items) { return Variant(ArrayValue{std::move(items)}); }
  static Variant Error(std::int32_t code) { return Variant(ErrorValue{code}); }
  static Variant Missing() { return Error(kParamNotFound); }

  VariantType type() const { return static_cast<VariantType>(value_.index()); }
  bool is_empty() const { return type() == VariantType::kEmpty; }
  bool is_missing() const { return error_code() == kParamNotFound; }

  // Each gives the value only when the variant holds that type; nothing is converted.
  std::optional<bool> bool_value() const;
  std::optional<std::int32_t> int32_value() const;
  std::optional<double> double_value() const;
  std::optional<double> date_value() const;
  std::optional<std::int32_t> error_code() const;
  // The string held, or null; the pointer lives as long as this variant is unchanged.
  const std::string* string_value() const;
  // The object held, or null.
  std::shared_ptr<Dispatch> dispatch_value() const;
  std::optional<std::int64_t> int64_value() const;
  // The bytes or the items held, or null; valid while this variant is unchanged.
  const std::vector<std::uint8_t>* bytes_value() const;
  const std::vector<Variant>* array_value() const;

  bool operator==(const Variant&) const = default;

 private:
  struct ErrorValue {
    std::int32_t code;
    bool operator==(const ErrorValue&) const = default;
  };
  struct DateValue {
    double days;
    bool operator==(const DateValue&) const = default;
  };
  struct Int64Value {
    std::int64_t value;
    bool operator==(const Int64Value&) const = default;
  };
  struct BytesValue {
    std::vector<std::uint8_t> bytes;
    bool operator==(const BytesValue&) const = default;
  };
  struct ArrayValue {
    std::vector<Variant> items;
    bool operator==(const ArrayValue&) const;
  };
  explicit Variant(ErrorValue e) : value_(e) {}
  explicit Variant(DateValue d) : value_(d) {}
  explicit Variant(Int64Value v) : value_(v) {}
  explicit Variant(BytesValue v) : value_(std::move(v)) {}
  explicit Variant(ArrayValue v) : value_(std::move(v)) {}

  // The order follows VariantType.
  std::variant<std::monostate, ErrorValue, bool, std::int32_t, double, DateValue, std::string,
               std::shared_ptr<Dispatch>, Int64Value, BytesValue, ArrayValue>
      value_;
};

// "empty", "error", "bool", "int32", "double", "date", "string" or "dispatch", for messages.
std::string_view type_name(VariantType type);

}  // namespace salvora
