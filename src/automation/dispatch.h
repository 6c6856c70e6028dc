#pragma once
// The late-bound call boundary: a server is a Dispatch, and every call on it names a member by
// its number (see member_ids.h), says whether it calls, reads or sets it, and passes Variants.
//
// Arguments are in the order of the call, first argument first. A put passes the new value as
// its last argument, after any index arguments. A server answers a member it does not have, or
// arguments it cannot take, by throwing AutomationError; that is how a failing call reaches the
// caller, who catches it where the step allows it to fail.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "automation/variant.h"

namespace salvora {

using MemberId = std::int32_t;
using Arguments = std::span<const Variant>;

// The member of an error that is not tied to one (creating an object).
inline constexpr MemberId kNoMember = -1;

enum class InvokeKind { kMethod, kGet, kPut };

class AutomationError : public std::runtime_error {
 public:
  enum class Code {
    kUnknownMember,  // the object has no such member, or not with that kind of call
    kBadArgument,    // wrong number or type of arguments, or a value out of range
    kNoServer,       // no server is registered under the name
    kFailed,         // the server could not do what it was asked
    kNameTaken,      // a new object's name is someone else's (a file, or one being written under it)
  };

  AutomationError(Code code, MemberId member, const std::string& message);

  Code code() const { return code_; }
  MemberId member() const { return member_; }
  // The message alone, without the member it came from: the cause in words, for the user.
  const std::string& reason() const { return reason_; }

 private:
  Code code_;
  MemberId member_;
  std::string reason_;
};

// What went wrong, for the user: an automation error's reason, any other error's message.
std::string cause_text(const std::exception& e);

class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) = 0;
};

using DispatchPtr = std::shared_ptr<Dispatch>;

// Calls through a pointer that may be empty: a call on no object does nothing and returns an
// empty Variant, as the save pass expects of an object it failed to get.
Variant invoke(const DispatchPtr& object, MemberId member, InvokeKind kind, std::initializer_list<Variant> arguments = {});
Variant get(const DispatchPtr& object, MemberId member);
void put(const DispatchPtr& object, MemberId member, Variant value);

// For servers: checks on the arguments of one call. Each failure throws kBadArgument naming the
// member and the argument's position (counted from 1 in the message).
void require_argument_count(MemberId member, Arguments arguments, std::size_t min, std::size_t max);
// The argument at index, or null when it was not passed or passed as missing.
const Variant* optional_argument(Arguments arguments, std::size_t index);
const std::string& string_argument(MemberId member, Arguments arguments, std::size_t index);
std::int32_t int32_argument(MemberId member, Arguments arguments, std::size_t index);
bool bool_argument(MemberId member, Arguments arguments, std::size_t index);
// A DATE; a plain double is taken as one.
double date_argument(MemberId member, Arguments arguments, std::size_t index);
// A non-null object.
DispatchPtr dispatch_argument(MemberId member, Arguments arguments, std::size_t index);

// For servers: the error for a member the object lacks.
[[noreturn]] void throw_unknown_member(MemberId member, InvokeKind kind);

}  // namespace salvora
