#pragma once
// A writer opened on the fake store, for the writer's tests.

#include <gtest/gtest.h>

#include <memory>

#include "support/ndb_builder.h"
#include "writer/fake_store.h"
#include "writer/save_to_pst.h"

namespace salvora::testing {

class WriterTest : public ::testing::Test {
 protected:
  WriterOptions Options() {
    WriterOptions o;
    o.factory = &factory;
    o.state = &state;
    o.time_stamp = [] { return std::string("6-1-2008 9-5"); };
    o.stop_flag = &stop;
    o.message = [this](std::string_view text) { messages.emplace_back(text); };
    return o;
  }
  void SetUp() override { store.RegisterWith(factory); }
  USave_to_PST_Format& Open(WriterOptions o) {
    writer = std::make_unique<USave_to_PST_Format>(std::move(o));
    EXPECT_EQ(writer->OpenTargetStore(TestTempDir() + "/dest", TestTempDir() + "/Repair/"), 0);
    return *writer;
  }
  USave_to_PST_Format& Open() { return Open(Options()); }

  FakeStore store;
  ObjectFactory factory;
  WriterProcessState state;
  std::atomic<bool> stop{false};
  std::vector<std::string> messages;
  std::unique_ptr<USave_to_PST_Format> writer;
};

inline ItemRecord FolderRecord(std::optional<std::string> name, std::optional<std::string> cls) {
  ItemRecord r;
  r.folder_counts.emplace();
  r.display_name = std::move(name);
  r.item_class = std::move(cls);
  return r;
}

inline ItemRecord MailRecord(const std::string& subject) {
  ItemRecord r;
  r.item_class = "IPM.Note";
  r.kind = ItemKind::kMail;
  r.message.emplace();
  r.message->subject = SubjectFields{0, 0, subject};
  return r;
}

}  // namespace salvora::testing
