#include "automation/dispatch.h"

#include <cstdio>

namespace salvora {
namespace {

std::string member_text(MemberId member) {
  if (member == kNoMember) return "object";
  char buf[32];
  std::snprintf(buf, sizeof buf, "member 0x%04X", static_cast<unsigned>(member));
  return buf;
}

std::string_view kind_name(InvokeKind kind) {
  switch (kind) {
    case InvokeKind::kMethod: return "call";
    case InvokeKind::kGet: return "get";
    case InvokeKind::kPut: return "put";
  }
  return "call";
}

const Variant& required(MemberId member, Arguments arguments, std::size_t index) {
  const Variant* v = optional_argument(arguments, index);
  if (v == nullptr) {
    throw AutomationError(AutomationError::Code::kBadArgument, member,
                          "argument " + std::to_string(index + 1) + " is required");
  }
  return *v;
}

[[noreturn]] void wrong_type(MemberId member, std::size_t index, std::string_view wanted, const Variant& got) {
  throw AutomationError(AutomationError::Code::kBadArgument, member,
                        "argument " + std::to_string(index + 1) + " must be " + std::string(wanted) + ", not " +
                            std::string(type_name(got.type())));
}

}  // namespace

AutomationError::AutomationError(Code code, MemberId member, const std::string& message)
    : std::runtime_error(member_text(member) + ": " + message), code_(code), member_(member), reason_(message) {}

std::string cause_text(const std::exception& e) {
  if (const auto* a = dynamic_cast<const AutomationError*>(&e)) return a->reason();
  return e.what();
}

Variant invoke(const DispatchPtr& object, MemberId member, InvokeKind kind, std::initializer_list<Variant> arguments) {
  if (!object) return {};
  return object->invoke(member, kind, Arguments(arguments.begin(), arguments.size()));
}

Variant get(const DispatchPtr& object, MemberId member) { return invoke(object, member, InvokeKind::kGet); }

void put(const DispatchPtr& object, MemberId member, Variant value) {
  invoke(object, member, InvokeKind::kPut, {std::move(value)});
}

void require_argument_count(MemberId member, Arguments arguments, std::size_t min, std::size_t max) {
  if (arguments.size() < min || arguments.size() > max) {
    const std::string wanted = min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max);
    throw AutomationError(AutomationError::Code::kBadArgument, member,
                          "takes " + wanted + " arguments, given " + std::to_string(arguments.size()));
  }
}

const Variant* optional_argument(Arguments arguments, std::size_t index) {
  if (index >= arguments.size() || arguments[index].is_missing()) return nullptr;
  return &arguments[index];
}

const std::string& string_argument(MemberId member, Arguments arguments, std::size_t index) {
  const Variant& v = required(member, arguments, index);
  if (const std::string* s = v.string_value()) return *s;
  wrong_type(member, index, "a string", v);
}

std::int32_t int32_argument(MemberId member, Arguments arguments, std::size_t index) {
  const Variant& v = required(member, arguments, index);
  if (auto i = v.int32_value()) return *i;
  wrong_type(member, index, "an int32", v);
}

bool bool_argument(MemberId member, Arguments arguments, std::size_t index) {
  const Variant& v = required(member, arguments, index);
  if (auto b = v.bool_value()) return *b;
  wrong_type(member, index, "a bool", v);
}

double date_argument(MemberId member, Arguments arguments, std::size_t index) {
  const Variant& v = required(member, arguments, index);
  if (auto d = v.date_value()) return *d;
  if (auto d = v.double_value()) return *d;
  wrong_type(member, index, "a date", v);
}

DispatchPtr dispatch_argument(MemberId member, Arguments arguments, std::size_t index) {
  const Variant& v = required(member, arguments, index);
  if (auto object = v.dispatch_value()) return object;
  if (v.type() == VariantType::kDispatch) {
    throw AutomationError(AutomationError::Code::kBadArgument, member,
                          "argument " + std::to_string(index + 1) + " is no object");
  }
  wrong_type(member, index, "an object", v);
}

void throw_unknown_member(MemberId member, InvokeKind kind) {
  throw AutomationError(AutomationError::Code::kUnknownMember, member,
                        "no such member to " + std::string(kind_name(kind)));
}

}  // namespace salvora
