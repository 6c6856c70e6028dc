#pragma once
// Turns the errors of the writer and the file system into failing calls, so that a caller of
// the boundary sees one kind of error whatever went wrong behind it.

#include <exception>
#include <string>
#include <utility>

#include "automation/dispatch.h"

namespace salvora::store {

// A call the server could not carry out, and a call with arguments it cannot take.
[[noreturn]] inline void fail(MemberId member, const std::string& message) {
  throw AutomationError(AutomationError::Code::kFailed, member, message);
}
[[noreturn]] inline void bad(MemberId member, const std::string& message) {
  throw AutomationError(AutomationError::Code::kBadArgument, member, message);
}

template <class F>
Variant guarded_call(MemberId member, F&& f) {
  try {
    return std::forward<F>(f)();
  } catch (const AutomationError&) {
    throw;
  } catch (const std::exception& e) {
    throw AutomationError(AutomationError::Code::kFailed, member, e.what());
  }
}

}  // namespace salvora::store
