// The call boundary: values keep their types, failing calls say which member failed and why, and
// servers are found by name.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "automation/dispatch.h"
#include "automation/member_ids.h"
#include "automation/object_factory.h"
#include "automation/schema_name.h"
#include "automation/variant.h"

namespace salvora {
namespace {

// A folder-like server: a name that can be read and set, and numbered subfolders.
class FakeFolder : public Dispatch {
 public:
  explicit FakeFolder(std::string name) : name_(std::move(name)) {}

  Variant invoke(MemberId member, InvokeKind kind, Arguments args) override {
    if (member == dispid::kName && kind == InvokeKind::kGet) {
      require_argument_count(member, args, 0, 0);
      return name_;
    }
    if (member == dispid::kName && kind == InvokeKind::kPut) {
      require_argument_count(member, args, 1, 1);
      name_ = string_argument(member, args, 0);
      return {};
    }
    if (member == dispid::kCount && kind == InvokeKind::kGet) return static_cast<std::int32_t>(children_.size());
    if (member == dispid::kItem && kind == InvokeKind::kMethod) {
      require_argument_count(member, args, 1, 1);
      const std::int32_t i = int32_argument(member, args, 0);
      if (i < 1 || i > static_cast<std::int32_t>(children_.size())) {
        throw AutomationError(AutomationError::Code::kBadArgument, member, "no folder " + std::to_string(i));
      }
      return children_[static_cast<std::size_t>(i - 1)];
    }
    if (member == dispid::kAddFolder && kind == InvokeKind::kMethod) {
      require_argument_count(member, args, 1, 2);
      auto child = std::make_shared<FakeFolder>(string_argument(member, args, 0));
      if (optional_argument(args, 1) != nullptr) child->type_ = int32_argument(member, args, 1);
      children_.push_back(child);
      return child;
    }
    throw_unknown_member(member, kind);
  }

  std::string name_;
  std::int32_t type_ = 0;
  std::vector<std::shared_ptr<FakeFolder>> children_;
};

TEST(Variant, KeepsEachTypeApart) {
  EXPECT_TRUE(Variant().is_empty());
  EXPECT_EQ(Variant("text").type(), VariantType::kString) << "a literal is a string, not a bool";
  EXPECT_EQ(*Variant(std::string_view("\xE6\x97\xA5")).string_value(), "\xE6\x97\xA5");
  EXPECT_EQ(Variant(true).bool_value(), true);
  EXPECT_EQ(Variant(7).int32_value(), 7);
  EXPECT_FALSE(Variant(7).bool_value().has_value());
  EXPECT_FALSE(Variant(7).double_value().has_value()) << "no silent conversion";

  const Variant date = Variant::Date(36526.5);
  EXPECT_EQ(date.type(), VariantType::kDate);
  EXPECT_EQ(date.date_value(), 36526.5);
  EXPECT_FALSE(date.double_value().has_value());
  EXPECT_NE(date, Variant(36526.5));

  const Variant missing = Variant::Missing();
  EXPECT_TRUE(missing.is_missing());
  EXPECT_EQ(missing.error_code(), kParamNotFound);
  EXPECT_FALSE(Variant::Error(5).is_missing());
  EXPECT_FALSE(Variant(0).is_missing());

  auto folder = std::make_shared<FakeFolder>("Inbox");
  const Variant object = folder;  // a server type converts without a cast
  EXPECT_EQ(object.type(), VariantType::kDispatch);
  EXPECT_EQ(object.dispatch_value().get(), folder.get());
  EXPECT_EQ(object, Variant(std::static_pointer_cast<Dispatch>(folder)));
  EXPECT_EQ(Variant("x").dispatch_value(), nullptr);
}

TEST(Dispatch, CallsAndTheErrorsOfFailingCalls) {
  DispatchPtr root = std::make_shared<FakeFolder>("Personal Folders");
  EXPECT_EQ(*get(root, dispid::kName).string_value(), "Personal Folders");
  put(root, dispid::kName, "Archive");
  EXPECT_EQ(*get(root, dispid::kName).string_value(), "Archive");

  const Variant added = invoke(root, dispid::kAddFolder, InvokeKind::kMethod, {"Inbox", Variant::Missing()});
  ASSERT_EQ(added.type(), VariantType::kDispatch);
  EXPECT_EQ(get(root, dispid::kCount).int32_value(), 1);
  EXPECT_EQ(invoke(root, dispid::kItem, InvokeKind::kMethod, {1}).dispatch_value(), added.dispatch_value());
  invoke(root, dispid::kAddFolder, InvokeKind::kMethod, {"Contacts", 10});
  EXPECT_EQ(static_cast<FakeFolder&>(*root).children_[1]->type_, 10);

  struct Case {
    const char* what;
    MemberId member;
    InvokeKind kind;
    std::vector<Variant> args;
    AutomationError::Code code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"unknown member", dispid::kBody, InvokeKind::kPut, {"x"}, AutomationError::Code::kUnknownMember,
       "member 0x9100: no such member to put"},
      {"known member, wrong kind", dispid::kCount, InvokeKind::kPut, {3}, AutomationError::Code::kUnknownMember,
       "member 0x0050"},
      {"wrong type", dispid::kName, InvokeKind::kPut, {5}, AutomationError::Code::kBadArgument,
       "argument 1 must be a string, not int32"},
      {"missing required", dispid::kItem, InvokeKind::kMethod, {Variant::Missing()},
       AutomationError::Code::kBadArgument, "argument 1 is required"},
      {"too many", dispid::kName, InvokeKind::kGet, {1}, AutomationError::Code::kBadArgument,
       "takes 0 arguments, given 1"},
      {"out of range", dispid::kItem, InvokeKind::kMethod, {3}, AutomationError::Code::kBadArgument, "no folder 3"},
  };
  for (const auto& c : cases) {
    try {
      root->invoke(c.member, c.kind, c.args);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.member(), c.member) << c.what;
      EXPECT_EQ(e.code(), c.code) << c.what;
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
    }
  }

  // A call on no object does nothing.
  EXPECT_TRUE(invoke(nullptr, dispid::kSave, InvokeKind::kMethod).is_empty());
  EXPECT_NO_THROW(put(nullptr, dispid::kSubject, "lost"));
}

TEST(Dispatch, ArgumentReaders) {
  const std::vector<Variant> args = {Variant::Date(2.0), 1.5, true, DispatchPtr(), Variant()};
  EXPECT_EQ(date_argument(1, args, 0), 2.0);
  EXPECT_EQ(date_argument(1, args, 1), 1.5) << "a plain double is taken as a date";
  EXPECT_TRUE(bool_argument(1, args, 2));
  EXPECT_THROW(bool_argument(1, args, 1), AutomationError);
  try {
    dispatch_argument(0x3001, args, 3);
    ADD_FAILURE();
  } catch (const AutomationError& e) {
    EXPECT_STREQ(e.what(), "member 0x3001: argument 4 is no object");
  }
  EXPECT_THROW(dispatch_argument(1, args, 4), AutomationError);
  EXPECT_EQ(optional_argument(args, 9), nullptr);
  EXPECT_NE(optional_argument(args, 4), nullptr) << "empty is a value, not a missing argument";
  EXPECT_THROW(require_argument_count(1, args, 1, 4), AutomationError);
  EXPECT_NO_THROW(require_argument_count(1, args, 5, 5));
}

TEST(ObjectFactory, CreatesByNameAndReportsWhatIsMissing) {
  ObjectFactory factory;
  std::atomic<int> made = 0;
  factory.Register("Outlook.Application", [&] {
    ++made;
    return std::make_shared<FakeFolder>("app");
  });
  const DispatchPtr a = factory.Create("Outlook.Application");
  const DispatchPtr b = factory.Create("OUTLOOK.application");
  EXPECT_NE(a, b) << "each call makes a fresh object";
  EXPECT_EQ(made, 2);
  EXPECT_TRUE(factory.IsRegistered("outlook.application"));

  try {
    factory.Create("Redemption.SafeMailItem");
    ADD_FAILURE();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.code(), AutomationError::Code::kNoServer);
    EXPECT_EQ(e.member(), kNoMember);
    EXPECT_NE(std::string(e.what()).find("Redemption.SafeMailItem"), std::string::npos);
  }

  factory.Register("Null.Server", [] { return DispatchPtr(); });
  try {
    factory.Create("Null.Server");
    ADD_FAILURE();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.code(), AutomationError::Code::kFailed);
  }

  // A creator may create other objects through the same factory.
  factory.Register("Outer", [&] { return factory.Create("Outlook.Application"); });
  EXPECT_NE(factory.Create("Outer"), nullptr);

  // A later registration replaces the earlier one.
  factory.Register("Outlook.Application", [] { return std::make_shared<FakeFolder>("second"); });
  EXPECT_EQ(*get(factory.Create("Outlook.Application"), dispid::kName).string_value(), "second");

  EXPECT_THROW(factory.Register("", [] { return DispatchPtr(); }), std::invalid_argument);
  EXPECT_THROW(factory.Register("X", nullptr), std::invalid_argument);

  register_server("Test.ProcessFactory", [] { return std::make_shared<FakeFolder>("p"); });
  EXPECT_NE(create_object("test.processfactory"), nullptr);
}

}  // namespace
}  // namespace salvora

namespace salvora {
namespace {

constexpr std::array<std::uint8_t, 16> kPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

TEST(SchemaName, TheThreeFormsRoundTripAndTheSetKeepsItsByteOrder) {
  EXPECT_EQ(proptag_schema_name(0x0037, 0x001F), "http://schemas.microsoft.com/mapi/proptag/0x0037001F");
  const std::string by_id = id_schema_name(kPublicStrings, 0x8501, 0x0003);
  EXPECT_EQ(by_id, "http://schemas.microsoft.com/mapi/id/{00020329-0000-0000-C000-000000000046}/85010003");
  auto s = parse_schema_name(by_id);
  ASSERT_TRUE(s && s->set);
  EXPECT_EQ(*s->set, kPublicStrings);
  EXPECT_EQ(s->lid, 0x8501u);
  EXPECT_EQ(s->type, 0x0003);
  // A number wider than four digits keeps every digit.
  s = parse_schema_name(id_schema_name(kPublicStrings, 0x12345678, 0x0040));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->lid, 0x12345678u);
  EXPECT_EQ(s->type, 0x0040);
  // A string name may carry its type, and may itself contain slashes.
  s = parse_schema_name(string_schema_name(kPublicStrings, "urn:a/b", 0x101F));
  ASSERT_TRUE(s && s->name);
  EXPECT_EQ(*s->name, "urn:a/b");
  EXPECT_EQ(s->type, 0x101F);
  s = parse_schema_name("http://schemas.microsoft.com/mapi/string/{00020329-0000-0000-c000-000000000046}/Keywords");
  ASSERT_TRUE(s && s->name);
  EXPECT_EQ(*s->name, "Keywords");
  EXPECT_EQ(s->type, 0);
  EXPECT_EQ(*s->set, kPublicStrings);
  s = parse_schema_name(proptag_schema_name(0x0E07, 0x0003));
  ASSERT_TRUE(s);
  EXPECT_FALSE(s->named());
  EXPECT_EQ(s->id, 0x0E07);
}

TEST(SchemaName, MalformedNamesAreRefused) {
  for (const char* bad : {"", "0x0037001F", "http://schemas.microsoft.com/mapi/proptag/0x0037001",
                          "http://schemas.microsoft.com/mapi/proptag/0x0037001G",
                          "http://schemas.microsoft.com/mapi/id/{00020329-0000-0000-C000-000000000046}/850",
                          "http://schemas.microsoft.com/mapi/id/{00020329-0000-0000-C000-00000000004}/85010003",
                          "http://schemas.microsoft.com/mapi/string/{00020329-0000-0000-C000-000000000046}/",
                          "http://schemas.microsoft.com/mapi/string/{00020329_0000-0000-C000-000000000046}/x"}) {
    EXPECT_FALSE(parse_schema_name(bad)) << bad;
  }
}

TEST(Variant, ThePropertyAccessorsTypesCompareByValue) {
  EXPECT_EQ(Variant::Int64(5), Variant::Int64(5));
  EXPECT_NE(Variant::Int64(5), Variant(std::int32_t{5}));
  EXPECT_EQ(*Variant::Bytes({1, 2}).bytes_value(), (std::vector<std::uint8_t>{1, 2}));
  const Variant list = Variant::Array({Variant("a"), Variant::Bytes({3})});
  EXPECT_EQ(list, Variant::Array({Variant("a"), Variant::Bytes({3})}));
  EXPECT_NE(list, Variant::Array({Variant("a")}));
  EXPECT_EQ(list.type(), VariantType::kArray);
  EXPECT_FALSE(list.string_value());
}

}  // namespace
}  // namespace salvora
