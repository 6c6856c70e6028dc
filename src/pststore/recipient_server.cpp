#include "pststore/recipient_server.h"

#include "automation/member_ids.h"
#include "format/prop_types.h"
#include "pststore/call_guard.h"
#include "pststore/property_accessor_server.h"

namespace salvora::store {

namespace {

void require_changeable(const ItemState& item, MemberId member) {
  if (item.deleted) fail(member, "the item was deleted");
  if (item.nid) fail(member, "the item is already stored in a folder");
}

constexpr std::int32_t kRecipientTo = 1;
constexpr std::int32_t kMailUser = 6;  // PR_OBJECT_TYPE of a recipient

}  // namespace

std::size_t RecipientsServer::IndexArgument(MemberId member, Arguments arguments) const {
  require_argument_count(member, arguments, 1, 1);
  const std::int32_t i = int32_argument(member, arguments, 0);
  if (i < 1 || static_cast<std::size_t>(i) > item_->recipients.size())
    throw AutomationError(AutomationError::Code::kBadArgument, member,
                          "index " + std::to_string(i) + " is outside 1.." + std::to_string(item_->recipients.size()));
  return static_cast<std::size_t>(i) - 1;
}

Variant RecipientsServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  switch (member) {
    case dispid::kCount:
      if (kind == InvokeKind::kGet) return static_cast<std::int32_t>(item_->recipients.size());
      break;
    case dispid::kItem:
      if (kind != InvokeKind::kPut) return std::make_shared<RecipientServer>(item_, IndexArgument(member, arguments));
      break;
    case dispid::kAddRecipient:
      if (kind == InvokeKind::kMethod) {
        require_argument_count(member, arguments, 1, 1);
        const std::string& name = string_argument(member, arguments, 0);
        require_changeable(*item_, member);
        RecipientState r;
        r.props.push_back(pst::Property::Int32(kPidRecipientType, kRecipientTo));
        r.props.push_back(pst::Property::String(kPidDisplayName, name));
        r.props.push_back(pst::Property::Int32(kPidObjectType, kMailUser));
        item_->recipients.push_back(std::move(r));
        return std::make_shared<RecipientServer>(item_, item_->recipients.size() - 1);
      }
      break;
    case dispid::kRemove:
      if (kind == InvokeKind::kMethod) {
        const std::size_t i = IndexArgument(member, arguments);
        require_changeable(*item_, member);
        item_->recipients.erase(item_->recipients.begin() + static_cast<std::ptrdiff_t>(i));
        return {};
      }
      break;
    default: break;
  }
  throw_unknown_member(member, kind);
}

RecipientState& RecipientServer::row(MemberId member) const {
  if (index_ >= item_->recipients.size()) fail(member, "the recipient was removed");
  return item_->recipients[index_];
}

Variant RecipientServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  switch (member) {
    case dispid::kName:
      if (kind == InvokeKind::kGet) {
        const pst::Property* p = pst::FindProp(row(member).props, kPidDisplayName);
        return p ? p->AsString() : std::string();
      }
      break;
    case dispid::kRecipientType:
      if (kind == InvokeKind::kGet) {
        const pst::Property* p = pst::FindProp(row(member).props, kPidRecipientType);
        return static_cast<std::int32_t>(p ? p->AsInt() : kRecipientTo);
      }
      if (kind == InvokeKind::kPut) {
        require_argument_count(member, arguments, 1, 1);
        const std::int32_t type = int32_argument(member, arguments, 0);
        require_changeable(*item_, member);
        pst::SetProp(row(member).props, pst::Property::Int32(kPidRecipientType, type));
        return {};
      }
      break;
    case dispid::kPropertyAccessor:
      if (kind == InvokeKind::kGet) {
        row(member);
        return std::make_shared<PropertyAccessorServer>(recipient_bag(item_, index_));
      }
      break;
    default: break;
  }
  throw_unknown_member(member, kind);
}

}  // namespace salvora::store
