#include "engine/named_map_loader.h"

#include "content/named_property_map.h"
#include "engine/object_reader.h"

namespace salvora {

int LoadNamedPropertyMap(OstContext& context) {
  if (context.stopped()) return 0;
  const NodeRecord* node = FindNode(context, kNidNameToIdMap);
  if (!node) return 0;
  // Decoded before any map exists, so the map's own properties keep their raw ids.
  context.named_properties.reset();
  auto object = ReadObject(context, *node);
  if (!object || object->properties.blocks.empty()) return 0;
  auto map = NamedPropertyMap::FromPropertyBlock(object->properties.blocks.front());
  if (!map || context.stopped()) return 0;
  context.named_properties = std::make_shared<const NamedPropertyMap>(std::move(*map));
  return 1;
}

}  // namespace salvora
