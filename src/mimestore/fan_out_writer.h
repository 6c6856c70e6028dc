#pragma once
// FanOutWriter: one store written in several forms at once (a PST, mbox folders and .eml
// files), so that one save pass over the source makes them all. Every call goes to each form
// in turn.
//
// The first form leads: its folder ids, message ids and named-property ids are the ones the
// caller sees, so that entry ids made from them are right in it (the PST, whose entry ids are
// stored). The others' ids are translated, folders and named properties alike.
//
// A call that fails in one form still goes to the rest; the first failure is thrown once all
// had it. failed() is true when any form no longer takes work. projected_size is the leading
// form's, so a split at a size limit splits every form at the same message.
// Not thread-safe: the store file locks around every call.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pststore/pst/store_writer.h"

namespace salvora::mime {

class FanOutWriter : public pst::StoreWriter {
 public:
  // forms must not be empty; the first one leads.
  explicit FanOutWriter(std::vector<std::unique_ptr<pst::StoreWriter>> forms);

  pst::FolderId root_folder() const override { return forms_[0]->root_folder(); }
  pst::FolderId ipm_subtree() const override { return forms_[0]->ipm_subtree(); }
  pst::FolderId deleted_items() const override { return forms_[0]->deleted_items(); }

  pst::FolderId AddFolder(pst::FolderId parent, std::string_view name, std::string_view container_class) override;
  void SetFolderProperties(pst::FolderId folder, const pst::PropertyList& props) override;
  void SetStoreProperties(const pst::PropertyList& props) override;
  void SetReceiveFolder(pst::FolderId folder) override;
  std::uint16_t RegisterName(const pst::PropertyName& name) override;
  std::uint32_t AddMessage(pst::FolderId folder, pst::MessageSpec message) override;
  void Commit() override;
  void Close() override;
  bool failed() const override;
  std::uint64_t projected_size() const override { return forms_[0]->projected_size(); }

 private:
  struct Follower {
    std::map<pst::FolderId, pst::FolderId> folders;  // the leader's folder id -> this form's
    std::map<std::uint16_t, std::uint16_t> names;    // named-property ids that differ from the leader's
    std::map<pst::FolderId, std::string> missing;    // folders this form could not make, and why
  };
  // Calls each form with its index; the first exception is rethrown after the last form.
  template <typename Call>
  void Each(Call call);
  pst::FolderId FolderIn(std::size_t form, pst::FolderId folder) const;
  pst::PropertyList PropsIn(std::size_t form, const pst::PropertyList& props) const;
  pst::MessageSpec MessageIn(std::size_t form, const pst::MessageSpec& message) const;

  std::vector<std::unique_ptr<pst::StoreWriter>> forms_;
  std::vector<Follower> followers_;  // one per form; the leader's is empty
};

}  // namespace salvora::mime
