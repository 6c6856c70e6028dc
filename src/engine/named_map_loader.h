#pragma once
// Loading the store's named-property map from node 0x61 into the context.

#include "ndb/ost_context.h"

namespace salvora {

// 1 when a map was built and stored in context.named_properties, 0 otherwise (no node 0x61,
// no entry stream, unreadable node, or the stop flag). Without a map, named properties keep
// their raw ids.
int LoadNamedPropertyMap(OstContext& context);

}  // namespace salvora
