#pragma once
// Drives the store server the way the save pass does, through the automation boundary only:
// opening the target store, finding or creating folders by path, and the item writers' call
// sequences (property items, and mail through the template copy, the header import and the
// attachments). The writers' own decisions (which fields, when to stop) are not repeated here;
// each helper makes the calls one writer makes for the values it is given.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation/dispatch.h"

namespace salvora::store::testing {

struct MailInput {
  std::string sender_name, sender_address, display_to, received_by, display_cc;
  std::optional<std::uint64_t> submit, delivery;  // FILETIME
  std::string subject;
  std::optional<std::string> html, body;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;  // name, bytes
  DispatchPtr embedded;  // attached with type 5 under embedded_name
  std::string embedded_name;
  bool streams = false;  // the header and files handed over as streams instead of files
};

class SaveDriver {
 public:
  // Opens the store at path as the save pass does and names its root.
  SaveDriver(const std::string& path, const std::string& display_name);

  // The folder at a path below the store root, each component with the class it is created
  // with when missing; created one level per call, as the save pass does.
  DispatchPtr Folder(const std::vector<std::pair<std::string, std::string>>& path);

  DispatchPtr CreateItem(std::int32_t type);
  void SaveAndMove(const DispatchPtr& item, const DispatchPtr& folder);
  // The mail writer's road for one mail; returns the item it moved.
  DispatchPtr WriteMail(const MailInput& mail, const DispatchPtr& folder);
  // The header file the mail writer imports (From, To, Date, Received, Delivery-date).
  static std::string MailHeader(const MailInput& mail);

  DispatchPtr app, ns, root, root_folders, safe;
  std::string version;
  std::string temp_dir;

 private:
  void BuildTemplate();
  DispatchPtr template_;
  std::int32_t mail_counter_ = 0;
};

// The text of a FILETIME in the header's layout (asctime, UTC fields).
std::string header_time(std::uint64_t filetime);
// A FILETIME of a UTC calendar time.
std::uint64_t filetime_of(int year, int month, int day, int hour, int minute, int second);

}  // namespace salvora::store::testing
