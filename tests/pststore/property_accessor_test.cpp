// The property accessors of the store server: what a faithful copy puts on an item, a
// recipient, an attachment and a folder reaches the PST as given, over every value the store
// would otherwise derive or default; what the store computes itself is refused.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "automation/member_ids.h"
#include "automation/schema_name.h"
#include "format/prop_types.h"
#include "pststore/item_properties.h"
#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/sample_mailbox.h"
#include "pststore/store_driver.h"
#include "pststore/store_file.h"
#include "pststore/store_readback.h"

namespace salvora::store {
namespace {

using K = InvokeKind;
using testing::ReadBack;

constexpr std::array<std::uint8_t, 16> kPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint64_t kCreated = 0x01D0'1234'5678'9ABFull;  // odd ticks: no DATE holds them

Variant SetAll(const DispatchPtr& object, std::vector<std::pair<std::string, Variant>> values) {
  std::vector<Variant> names, items;
  for (auto& [n, v] : values) {
    names.emplace_back(n);
    items.push_back(std::move(v));
  }
  DispatchPtr accessor = get(object, dispid::kPropertyAccessor).dispatch_value();
  return invoke(accessor, dispid::kSetProperties, K::kMethod, {Variant::Array(names), Variant::Array(items)});
}

std::string Tag(std::uint16_t id, std::uint16_t type) { return proptag_schema_name(id, type); }

class PropertyAccessorTest : public ::testing::Test {
 protected:
  void TearDown() override { close_store_files(); }
};

TEST_F(PropertyAccessorTest, AnItemKeepsEveryValueGivenOverWhatTheStoreWouldDerive) {
  const std::string path = pst::testing::TempPath("accessor-item.pst");
  {
    testing::SaveDriver d(path, "Copy");
    const DispatchPtr inbox = d.Folder({{"Inbox", "IPF.Note"}});
    const DispatchPtr item = d.CreateItem(0);
    put(item, dispid::kSubject, Variant("what the writer put"));
    put(item, dispid::kUnRead, Variant(true));
    const Variant errors = SetAll(
        item, {{Tag(kPidSubject, kPtypString), Variant("RE: Quarterly: numbers")},
               {Tag(0x003D, kPtypString), Variant("RE: ")},
               {Tag(0x0E1D, kPtypString), Variant("Quarterly: numbers")},
               {Tag(kPidMessageFlags, kPtypInteger32), Variant(std::int32_t{0x1})},  // read, sent
               {Tag(kPidCreationTime, kPtypTime), Variant::Int64(static_cast<std::int64_t>(kCreated))},
               {Tag(kPidLastModificationTime, kPtypTime), Variant::Int64(static_cast<std::int64_t>(kCreated + 7))},
               {Tag(kPidImportance, kPtypInteger32), Variant(std::int32_t{2})},
               {Tag(0x1009, kPtypBinary), Variant::Bytes({0x10, 0, 0, 0, 1, 2, 3})},
               {Tag(0x0E2B, kPtypInteger16), Variant(std::int32_t{-2})},
               {Tag(0x6001, kPtypFloating32), Variant(1.5)},
               {Tag(0x6002, kPtypCurrency), Variant::Int64(-123456789012)},
               {Tag(0x6003, kPtypMultipleInteger32), Variant::Array({Variant(std::int32_t{7}), Variant(std::int32_t{-1})})},
               {Tag(0x6004, kPtypMultipleBinary), Variant::Array({Variant::Bytes({1}), Variant::Bytes({})})},
               {Tag(0x6005, kPtypString8), Variant("Grüße")},
               {id_schema_name(kPsetidCommon, 0x8580, kPtypString), Variant("common")},
               {string_schema_name(kPublicStrings, "Keywords", kPtypMultipleString),
                Variant::Array({Variant("Rot"), Variant("日本")})},
               // refused: the store's own, a value of the wrong kind, a type without a value
               {Tag(kPidEntryId, kPtypBinary), Variant::Bytes({1, 2})},
               {Tag(0x6006, kPtypInteger32), Variant("seven")},
               {Tag(0x6007, kPtypObject), Variant::Bytes({})}});
    const auto* e = errors.array_value();
    ASSERT_TRUE(e);
    ASSERT_EQ(e->size(), 19u);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_TRUE((*e)[i].is_empty()) << i;
    EXPECT_EQ((*e)[16].error_code(), kAccessorComputed);
    EXPECT_EQ((*e)[17].error_code(), kAccessorInvalid);
    EXPECT_EQ((*e)[18].error_code(), kAccessorInvalid);
    // Read back as given, before the item is written.
    DispatchPtr accessor = get(item, dispid::kPropertyAccessor).dispatch_value();
    EXPECT_EQ(invoke(accessor, dispid::kGetProperty, K::kMethod, {Tag(kPidSubject, kPtypString)}),
              Variant("RE: Quarterly: numbers"));
    EXPECT_THROW(invoke(accessor, dispid::kGetProperty, K::kMethod, {Tag(0x6006, kPtypInteger32)}), AutomationError);
    // A time comes back to the tick, as the copy reads it from a source: set again, it is the
    // same time.
    EXPECT_EQ(invoke(accessor, dispid::kGetProperty, K::kMethod, {Tag(kPidCreationTime, kPtypTime)}),
              Variant::Int64(static_cast<std::int64_t>(kCreated)));
    d.SaveAndMove(item, inbox);
  }
  close_store_files();
  EXPECT_TRUE(pst::PstVerifier::Verify(path).violations.empty());
  const auto store = ReadBack(path);
  const auto* m = store.subtree.Child("Inbox")->Message("RE: Quarterly: numbers");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Text(0x003D), "RE: ");
  EXPECT_EQ(m->Text(0x0E1D), "Quarterly: numbers");
  EXPECT_EQ(m->Int(kPidMessageFlags).value_or(-1) & 0xF, 0x1);  // neither unread nor a draft
  EXPECT_EQ(static_cast<std::uint64_t>(m->Find(kPidCreationTime)->AsInt()), kCreated);
  EXPECT_EQ(static_cast<std::uint64_t>(m->Find(kPidLastModificationTime)->AsInt()), kCreated + 7);
  EXPECT_EQ(m->Int(kPidImportance), 2);
  EXPECT_EQ(m->Find(0x1009)->data, (std::vector<std::uint8_t>{0x10, 0, 0, 0, 1, 2, 3}));
  EXPECT_EQ(m->Int(0x0E2B), -2);
  float f = 0;
  std::memcpy(&f, m->Find(0x6001)->data.data(), 4);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(m->Find(0x6002)->AsInt(), -123456789012);
  EXPECT_EQ(m->Find(0x6003)->data, (std::vector<std::uint8_t>{7, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(m->Find(0x6004)->type(), kPtypMultipleBinary);
  EXPECT_EQ(m->Find(0x6005)->type(), kPtypString);  // 8-bit text is kept as Unicode
  EXPECT_EQ(m->Text(0x6005), "Grüße");
  EXPECT_FALSE(m->Find(0x6006));
  const pst::Property* common = store.Named(*m, named(kPsetidCommon, 0x8580));
  ASSERT_TRUE(common);
  EXPECT_EQ(common->AsString(), "common");
  pst::PropertyName keywords;
  keywords.guid = kPublicStrings;
  keywords.name = "Keywords";
  const pst::Property* k = store.Named(*m, keywords);
  ASSERT_TRUE(k);
  EXPECT_EQ(k->type(), kPtypMultipleString);
}

// Names are parsed once and remembered: a name that does not parse is refused each time it
// comes, and a remembered one still reaches the property it names.
TEST_F(PropertyAccessorTest, NamesAskedAgainAreAnsweredAsTheFirstTime) {
  const std::string path = pst::testing::TempPath("accessor-names-again.pst");
  {
    testing::SaveDriver d(path, "Copy");
    d.Folder({{"Inbox", "IPF.Note"}});
    const DispatchPtr item = d.CreateItem(0);
    const std::string bad = "http://schemas.microsoft.com/mapi/proptag/0x0037001G";
    for (int round = 0; round < 2; ++round) {
      const Variant errors = SetAll(item, {{bad, Variant("x")},
                                           {Tag(kPidSubject, kPtypString), Variant("round " + std::to_string(round))},
                                           {Tag(kPidEntryId, kPtypBinary), Variant::Bytes({1})}});
      const auto* e = errors.array_value();
      ASSERT_TRUE(e);
      ASSERT_EQ(e->size(), 3u);
      EXPECT_EQ((*e)[0].error_code(), kAccessorInvalid) << round;
      EXPECT_TRUE((*e)[1].is_empty()) << round;
      EXPECT_EQ((*e)[2].error_code(), kAccessorComputed) << round;
      DispatchPtr accessor = get(item, dispid::kPropertyAccessor).dispatch_value();
      EXPECT_EQ(invoke(accessor, dispid::kGetProperty, K::kMethod, {Tag(kPidSubject, kPtypString)}),
                Variant("round " + std::to_string(round)));
      EXPECT_THROW(invoke(accessor, dispid::kGetProperty, K::kMethod, {Variant(bad)}), AutomationError);
      const Variant deleted = invoke(accessor, dispid::kDeleteProperties, K::kMethod,
                                     {Variant::Array({Variant(bad), Variant(Tag(0x0E1D, kPtypString))})});
      ASSERT_TRUE(deleted.array_value());
      EXPECT_EQ((*deleted.array_value())[0].error_code(), kAccessorInvalid) << round;
      EXPECT_TRUE((*deleted.array_value())[1].is_empty()) << round;
    }
  }
}

TEST_F(PropertyAccessorTest, RecipientsAreTheRowsGivenInTheirOrderWithTheirTypes) {
  const std::string path = pst::testing::TempPath("accessor-recipients.pst");
  {
    testing::SaveDriver d(path, "Copy");
    const DispatchPtr inbox = d.Folder({{"Inbox", "IPF.Note"}});
    const DispatchPtr item = d.CreateItem(0);
    put(item, dispid::kSubject, Variant("rows"));
    DispatchPtr recipients = get(item, dispid::kRecipients).dispatch_value();
    for (const char* name : {"Ann", "Bob", "Cid"}) invoke(recipients, dispid::kAddRecipient, K::kMethod, {Variant(name)});
    invoke(recipients, dispid::kRemove, K::kMethod, {Variant(std::int32_t{2})});  // Bob goes
    EXPECT_EQ(get(recipients, dispid::kCount), Variant(std::int32_t{2}));
    EXPECT_THROW(invoke(recipients, dispid::kRemove, K::kMethod, {Variant(std::int32_t{3})}), AutomationError);
    DispatchPtr cid = invoke(recipients, dispid::kItem, K::kMethod, {Variant(std::int32_t{2})}).dispatch_value();
    put(cid, dispid::kRecipientType, Variant(std::int32_t{2}));
    SetAll(cid, {{Tag(kPidEmailAddress, kPtypString), Variant("cid@example.org")},
                 {Tag(kPidAddressType, kPtypString), Variant("SMTP")}});
    d.SaveAndMove(item, inbox);
  }
  close_store_files();
  const auto store = ReadBack(path);
  const auto* m = store.subtree.Child("Inbox")->Message("rows");
  ASSERT_TRUE(m);
  ASSERT_EQ(m->recipients.size(), 2u);
  EXPECT_EQ(pst::find_prop(m->recipients[0], kPidDisplayName)->AsString(), "Ann");
  EXPECT_EQ(pst::find_prop(m->recipients[0], kPidRecipientType)->AsInt(), 1);
  EXPECT_EQ(pst::find_prop(m->recipients[1], kPidDisplayName)->AsString(), "Cid");
  EXPECT_EQ(pst::find_prop(m->recipients[1], kPidRecipientType)->AsInt(), 2);
  EXPECT_EQ(pst::find_prop(m->recipients[1], kPidEmailAddress)->AsString(), "cid@example.org");
  EXPECT_EQ(m->Text(kPidDisplayCc), "Cid");
}

TEST_F(PropertyAccessorTest, AttachmentsFoldersAndHiddenItemsTakeTheirOwnProperties) {
  const std::string path = pst::testing::TempPath("accessor-folder.pst");
  {
    testing::SaveDriver d(path, "Copy");
    const DispatchPtr feeds = d.Folder({{"RSS Feeds", "IPF.Note"}});
    SetAll(feeds, {{Tag(kPidContainerClass, kPtypString), Variant("IPF.Note.OutlookHomepage")},
                   {Tag(kPidComment, kPtypString), Variant("feeds")},
                   {Tag(kPidContentCount, kPtypInteger32), Variant(std::int32_t{99})},  // the store's own
                   {id_schema_name(kPsetidCommon, 0x85A0, kPtypBoolean), Variant(true)}});
    const DispatchPtr item = d.CreateItem(0);
    put(item, dispid::kSubject, Variant("with file"));
    const std::string file = d.temp_dir + "/a.png";
    { std::ofstream(file, std::ios::binary) << "abc"; }
    DispatchPtr attachments = get(item, dispid::kAttachments).dispatch_value();
    const DispatchPtr added = invoke(attachments, dispid::kAddAttachment, K::kMethod,
                                     {Variant(file), Variant::Missing(), Variant::Missing(), Variant("a.png")})
                                  .dispatch_value();
    ASSERT_TRUE(added);
    SetAll(added, {{Tag(kPidAttachMimeTag, kPtypString), Variant("image/png")},
                   {Tag(kPidAttachContentId, kPtypString), Variant("img1@x")},
                   {Tag(0x7FFE, kPtypBoolean), Variant(true)}});
    d.SaveAndMove(item, feeds);
    DispatchPtr hidden = invoke(feeds, dispid::kGetStorage, K::kMethod,
                                {Variant("IPM.Configuration.Feeds"), Variant(kIdentifyByMessageClass)})
                             .dispatch_value();
    SetAll(hidden, {{Tag(0x7C07, kPtypBinary), Variant::Bytes({9, 9})}});
    invoke(hidden, dispid::kSave, K::kMethod);
    // Saved, it is no longer the one handed out: a second copy of the same class is its own.
    DispatchPtr second = invoke(feeds, dispid::kGetStorage, K::kMethod,
                                {Variant("IPM.Configuration.Feeds"), Variant(kIdentifyByMessageClass)})
                             .dispatch_value();
    invoke(second, dispid::kSave, K::kMethod);
  }
  close_store_files();
  EXPECT_TRUE(pst::PstVerifier::Verify(path).violations.empty());
  const auto store = ReadBack(path);
  const auto* feeds = store.subtree.Child("RSS Feeds");
  ASSERT_TRUE(feeds);
  EXPECT_EQ(pst::find_prop(feeds->props, kPidContainerClass)->AsString(), "IPF.Note.OutlookHomepage");
  EXPECT_EQ(pst::find_prop(feeds->props, kPidComment)->AsString(), "feeds");
  EXPECT_EQ(pst::find_prop(feeds->props, kPidContentCount)->AsInt(), 1);  // what it holds
  const auto* m = feeds->Message("with file");
  ASSERT_TRUE(m);
  ASSERT_EQ(m->attachments.size(), 1u);
  const auto& a = m->attachments[0];
  EXPECT_EQ(pst::find_prop(a.props, kPidAttachMimeTag)->AsString(), "image/png");
  EXPECT_EQ(pst::find_prop(a.props, kPidAttachContentId)->AsString(), "img1@x");
  EXPECT_EQ(pst::find_prop(a.props, 0x7FFE)->AsInt(), 1);
  EXPECT_EQ(a.data, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  // The two hidden items are messages of the file, not of the folder's contents.
  EXPECT_EQ(feeds->messages.size(), 1u);
  EXPECT_EQ(store.message_nodes, 1u);
  EXPECT_EQ(store.hidden_message_nodes, 2u);
}

}  // namespace
}  // namespace salvora::store
