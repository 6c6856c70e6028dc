#include "automation/object_factory.h"

#include <stdexcept>

#include "platform/plain_text.h"

namespace salvora {
namespace {

std::string key_of(std::string_view prog_id) { return ascii_lowercase(prog_id); }

}  // namespace

void ObjectFactory::Register(std::string_view prog_id, ServerCreator creator) {
  if (prog_id.empty() || !creator) throw std::invalid_argument("a server needs a name and a creator");
  std::lock_guard lock(mutex_);
  creators_[key_of(prog_id)] = std::move(creator);
}

bool ObjectFactory::IsRegistered(std::string_view prog_id) const {
  std::lock_guard lock(mutex_);
  return creators_.contains(key_of(prog_id));
}

DispatchPtr ObjectFactory::Create(std::string_view prog_id) const {
  ServerCreator creator;
  {
    std::lock_guard lock(mutex_);
    const auto it = creators_.find(key_of(prog_id));
    if (it == creators_.end()) {
      throw AutomationError(AutomationError::Code::kNoServer, kNoMember,
                            "no server is registered as \"" + std::string(prog_id) + "\"");
    }
    creator = it->second;
  }
  DispatchPtr object = creator();
  if (!object) {
    throw AutomationError(AutomationError::Code::kFailed, kNoMember,
                          "the server \"" + std::string(prog_id) + "\" gave no object");
  }
  return object;
}

ObjectFactory& ObjectFactory::Process() {
  static ObjectFactory factory;
  return factory;
}

void register_server(std::string_view prog_id, ServerCreator creator) {
  ObjectFactory::Process().Register(prog_id, std::move(creator));
}

DispatchPtr create_object(std::string_view prog_id) { return ObjectFactory::Process().Create(prog_id); }

}  // namespace salvora
