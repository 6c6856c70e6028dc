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
  }
  return "unknown";
}

}  // namespace salvora
