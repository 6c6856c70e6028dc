#include "mimestore/fan_out_writer.h"

#include <exception>
#include <stdexcept>

#include "format/prop_types.h"

namespace salvora::mime {

FanOutWriter::FanOutWriter(std::vector<std::unique_ptr<pst::StoreWriter>> forms) : forms_(std::move(forms)) {
  if (forms_.empty()) throw std::invalid_argument("a store needs at least one form");
  followers_.resize(forms_.size());
  for (std::size_t i = 1; i < forms_.size(); ++i) {
    for (auto [lead, own] : {std::pair{forms_[0]->root_folder(), forms_[i]->root_folder()},
                             std::pair{forms_[0]->ipm_subtree(), forms_[i]->ipm_subtree()},
                             std::pair{forms_[0]->deleted_items(), forms_[i]->deleted_items()}})
      followers_[i].folders[lead] = own;
  }
}

template <typename Call>
void FanOutWriter::Each(Call call) {
  std::exception_ptr first;
  for (std::size_t i = 0; i < forms_.size(); ++i) {
    try {
      call(i);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

pst::FolderId FanOutWriter::FolderIn(std::size_t form, pst::FolderId folder) const {
  if (form == 0) return folder;
  const auto& folders = followers_[form].folders;
  const auto it = folders.find(folder);
  if (it != folders.end()) return it->second;
  // A folder one form could not make has no id there: its calls fail in that form alone, for
  // the reason it was not made.
  const auto why = followers_[form].missing.find(folder);
  throw std::runtime_error(why != followers_[form].missing.end() ? why->second
                                                                 : "no folder " + std::to_string(folder) + " in this form of the store");
}

pst::PropertyList FanOutWriter::PropsIn(std::size_t form, const pst::PropertyList& props) const {
  const auto& names = followers_[form].names;
  if (names.empty()) return props;
  pst::PropertyList out = props;
  for (pst::Property& p : out) {
    if (const auto it = names.find(p.id()); it != names.end()) p.tag = PropTag(it->second, p.type());
  }
  return out;
}

pst::MessageSpec FanOutWriter::MessageIn(std::size_t form, const pst::MessageSpec& message) const {
  pst::MessageSpec out = message;
  if (followers_[form].names.empty()) return out;
  out.props = PropsIn(form, message.props);
  for (auto& r : out.recipients) r.props = PropsIn(form, r.props);
  for (auto& a : out.attachments) {
    a.props = PropsIn(form, a.props);
    if (a.embedded) a.embedded = std::make_shared<pst::MessageSpec>(MessageIn(form, *a.embedded));
  }
  return out;
}

pst::FolderId FanOutWriter::AddFolder(pst::FolderId parent, std::string_view name, std::string_view container_class) {
  // The leader first: without its id there is nothing to name the folder by. A form that cannot
  // make it goes on without it; every message for the folder then fails in that form, and is
  // counted as not written, rather than the folder failing in the forms that have it.
  const pst::FolderId lead = forms_[0]->AddFolder(parent, name, container_class);
  for (std::size_t i = 1; i < forms_.size(); ++i) {
    try {
      followers_[i].folders[lead] = forms_[i]->AddFolder(FolderIn(i, parent), name, container_class);
    } catch (const std::exception& e) {
      followers_[i].missing[lead] = e.what();
    }
  }
  return lead;
}

void FanOutWriter::SetFolderProperties(pst::FolderId folder, const pst::PropertyList& props) {
  Each([&](std::size_t i) { forms_[i]->SetFolderProperties(FolderIn(i, folder), PropsIn(i, props)); });
}

void FanOutWriter::SetStoreProperties(const pst::PropertyList& props) {
  Each([&](std::size_t i) { forms_[i]->SetStoreProperties(PropsIn(i, props)); });
}

void FanOutWriter::SetReceiveFolder(pst::FolderId folder) {
  Each([&](std::size_t i) { forms_[i]->SetReceiveFolder(FolderIn(i, folder)); });
}

std::uint16_t FanOutWriter::RegisterName(const pst::PropertyName& name) {
  const std::uint16_t lead = forms_[0]->RegisterName(name);
  for (std::size_t i = 1; i < forms_.size(); ++i) {
    const std::uint16_t own = forms_[i]->RegisterName(name);
    if (own != lead) followers_[i].names[lead] = own;
  }
  return lead;
}

std::uint32_t FanOutWriter::AddMessage(pst::FolderId folder, pst::MessageSpec message) {
  // Data streamed from the caller can be read once only: every form gets it from memory.
  for (auto& a : message.attachments) {
    if (!a.source) continue;
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = a.source->Read(buffer)) > 0;) a.data.insert(a.data.end(), buffer, buffer + n);
    a.source = nullptr;
  }
  std::uint32_t lead = 0;
  Each([&](std::size_t i) {
    if (i == 0) {
      lead = forms_[0]->AddMessage(folder, i + 1 == forms_.size() ? std::move(message) : message);
    } else {
      forms_[i]->AddMessage(FolderIn(i, folder), i + 1 == forms_.size() && followers_[i].names.empty()
                                                      ? std::move(message)
                                                      : MessageIn(i, message));
    }
  });
  return lead;
}

void FanOutWriter::Commit() {
  Each([&](std::size_t i) { forms_[i]->Commit(); });
}

void FanOutWriter::Close() {
  Each([&](std::size_t i) { forms_[i]->Close(); });
}

bool FanOutWriter::failed() const {
  for (const auto& form : forms_)
    if (form->failed()) return true;
  return false;
}

}  // namespace salvora::mime
