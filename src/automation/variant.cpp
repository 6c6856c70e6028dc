#include "automation/variant.h"

namespace salvora {

std::optional<bool> Variant::bool_value() const {
  if (const auto* v = std::get_if<bool>(&value_)) return *v;
  return std::nullopt;
}

std::optional<std::int32_t> Variant::int32_value() const {
  if (const auto* v = std::get_if<std::int32_t>(&value_)) return *v;
  return std::nullopt;
}

std::optional<double> Variant::double_value() const {
  if (const auto* v = std::get_if<double>(&value_)) return *v;
  return std::nullopt;
}

std::optional<double> Variant::date_value() const {
  if (const auto* v = std::get_if<DateValue>(&value_)) return v->days;
  return std::nullopt;
}

std::optional<std::int32_t> Variant::error_code() const {
  if (const auto* v = std::get_if<ErrorValue>(&value_)) return v->code;
  return std::nullopt;
}

const std::string* Variant::string_value() const { return std::get_if<std::string>(&value_); }

std::shared_ptr<Dispatch> Variant::dispatch_value() const {
  if (const auto* v = std::get_if<std::shared_ptr<Dispatch>>(&value_)) return *v;
  return nullptr;
}

std::optional<std::int64_t> Variant::int64_value() const {
  if (const auto* v = std::get_if<Int64Value>(&value_)) return v->value;
  return std::nullopt;
}

const std::vector<std::uint8_t>* Variant::bytes_value() const {
  const auto* v = std::get_if<BytesValue>(&value_);
  return v ? &v->bytes : nullptr;
}

const std::vector<Variant>* Variant::array_value() const {
  const auto* v = std::get_if<ArrayValue>(&value_);
  return v ? &v->items : nullptr;
}

bool Variant::ArrayValue::operator==(const ArrayValue& other) const { return items == other.items; }

std::string_view type_name(VariantType type) {
  switch (type) {
    case VariantType::kEmpty: return "empty";
    case VariantType::kError: return "error";
    case VariantType::kBool: return "bool";
    case VariantType::kInt32: return "int32";
    case VariantType::kDouble: return "double";
    case VariantType::kDate: return "date";
    case VariantType::kString: return "string";
    case VariantType::kDispatch: return "dispatch";
    case VariantType::kInt64: return "int64";
    case VariantType::kBytes: return "bytes";
    case VariantType::kArray: return "array";
  }
  return "unknown";
}

}  // namespace salvora
