#pragma once
// Turns the errors of the writer and the file system into failing calls, so that a caller of
// the boundary sees one kind of error whatever went wrong behind it.

#include <cerrno>
#include <exception>
#include <string>
#include <utility>

#include "automation/dispatch.h"
#include "platform/file_exception.h"

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
  } catch (const CFileException& e) {
    // A new store refuses a name already in use, its scratch file's included: how the store
    // names what it is writing is its own business, the caller only tries another name.
    throw AutomationError(e.os_error() == EEXIST ? AutomationError::Code::kNameTaken : AutomationError::Code::kFailed,
                          member, e.what());
  } catch (const std::exception& e) {
    throw AutomationError(AutomationError::Code::kFailed, member, e.what());
  }
}

}  // namespace salvora::store
