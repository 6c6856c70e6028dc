#pragma once
// Reads a PST that the store server wrote back into plain values, through the strict reader
// of the writer's checks: the store object, the named-property map, and the folder tree below
// the IPM subtree with every message, its recipient rows and its attachments (embedded
// messages included). Problems the reader meets are collected, not thrown.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pststore/pst/name_map.h"
#include "pststore/pst/property.h"

namespace salvora::store::testing {

struct ReadMessage;

struct ReadAttachment {
  pst::PropertyList props;
  std::vector<std::uint8_t> data;
  std::shared_ptr<ReadMessage> embedded;
};

struct ReadMessage {
  std::uint32_t nid = 0;
  pst::PropertyList props;
  pst::PropertyList row;  // the folder's contents row
  std::vector<pst::PropertyList> recipients;
  std::vector<ReadAttachment> attachments;

  const pst::Property* Find(std::uint16_t id) const { return pst::FindProp(props, id); }
  std::string Text(std::uint16_t id) const;
  std::optional<std::int64_t> Int(std::uint16_t id) const;
};

struct ReadFolder {
  std::uint32_t nid = 0;
  std::string name;
  pst::PropertyList props;
  std::vector<ReadFolder> children;  // in hierarchy-table order
  std::vector<ReadMessage> messages;

  const ReadFolder* Child(const std::string& name) const;
  // A message by subject, or null.
  const ReadMessage* Message(const std::string& subject) const;
  std::size_t TotalMessages() const;
};

struct ReadStore {
  bool opened = false;
  std::vector<std::string> problems;
  pst::PropertyList store_props;
  pst::NameToIdMap names;
  ReadFolder subtree;  // the IPM subtree
  std::size_t message_nodes = 0;  // every message node in the node tree, listed or not
  std::size_t hidden_message_nodes = 0;  // folders' hidden (associated) messages

  // A named property of a message, through the map; null when unnamed or absent.
  const pst::Property* Named(const ReadMessage& m, const pst::PropertyName& name) const;
};

ReadStore ReadBack(const std::string& path);

}  // namespace salvora::store::testing
