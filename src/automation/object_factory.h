#pragma once
// Creates servers by name, as the save pass creates its store server and mail-import object.
//
// A server package registers a creator under its name (kOutlookApplication, kSafeMailItem);
// Create calls it for a fresh object. Names are matched without regard to ASCII case. Safe to use
// from any thread; a creator runs outside the factory's lock, so it may create other objects.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "automation/dispatch.h"

namespace salvora {

using ServerCreator = std::function<DispatchPtr()>;

class ObjectFactory {
 public:
  // Registers (or replaces) the creator for a name. An empty name or creator is refused with
  // std::invalid_argument.
  void Register(std::string_view prog_id, ServerCreator creator);
  bool IsRegistered(std::string_view prog_id) const;
  // A new object; AutomationError kNoServer for an unknown name, kFailed when the creator gives
  // no object. What the creator throws passes through.
  DispatchPtr Create(std::string_view prog_id) const;

  // The factory of this process.
  static ObjectFactory& Process();

 private:
  mutable std::mutex mutex_;
  std::map<std::string, ServerCreator> creators_;  // by lower-cased name
};

// Shorthands for the process's factory.
void register_server(std::string_view prog_id, ServerCreator creator);
DispatchPtr create_object(std::string_view prog_id);

}  // namespace salvora
