// WriteMail, AddAttachments and set_mail_body: a mail reaches the store as a header file that the
// import object reads into a copy of a template item, then its subject, body, display texts and
// attachments are put on that item, and the item is moved into its folder.

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "automation/member_ids.h"
#include "engine/embedded_loader.h"
#include "ndb/block_reader.h"
#include "platform/file64.h"
#include "writer/attachment_names.h"
#include "writer/source_stream.h"
#include "writer/item_links.h"
#include "writer/save_to_pst.h"

namespace salvora {

namespace {

// A message attached to a message attached to ... is written to this depth; deeper ones (or a
// damaged file whose attachments loop) are left out rather than recursed into forever.
constexpr int kMaxEmbeddingDepth = 16;

// Under these versions every mail gets its own copy of the template and lets it go after the
// move; under the others the copy made at each rebuild takes every mail until the next one.
bool copies_per_mail(const std::string& version) {
  return version.starts_with("11") || version.starts_with("12");
}

void remove_file(const std::string& path) {
  if (path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace

DispatchPtr USave_to_PST_Format::new_mail_item() {
  DispatchPtr item =
      invoke(application_, dispid::kCreateItem, InvokeKind::kMethod, {Variant(kItemNote)}).dispatch_value();
  put(item, dispid::kMessageClass, Variant("IPM.Note"));
  return item;
}

void USave_to_PST_Format::build_template(bool keep) {
  template_item_ =
      invoke(application_, dispid::kCreateItem, InvokeKind::kMethod, {Variant(kItemNote)}).dispatch_value();
  invoke(template_item_, dispid::kSave, InvokeKind::kMethod);
  const Variant entry_id = get(template_item_, dispid::kEntryID);
  if (const std::string* id = entry_id.string_value()) template_entry_id_ = *id;
  try {
    if (DispatchPtr reread = invoke(namespace_, dispid::kGetItemFromID, InvokeKind::kMethod,
                                    {Variant(template_entry_id_), Variant()})
                                 .dispatch_value()) {
      template_item_ = reread;
    }
  } catch (const std::exception&) {
    // The item just made serves as well: it is still a note until its class is set below.
  }
  put(template_item_, dispid::kMessageClass, Variant("IPM.Note"));
  if (!copies_per_mail(version_)) {
    current_mail_item_ = invoke(template_item_, dispid::kCopy, InvokeKind::kMethod).dispatch_value();
    put(safe_mail_item_, dispid::kSafeItem, Variant(current_mail_item_));
  }
  if (!keep) {
    invoke(template_item_, dispid::kDelete, InvokeKind::kMethod);
    template_item_.reset();
  }
}

bool USave_to_PST_Format::refused_stream(const AutomationError& e) {
  if (e.code() != AutomationError::Code::kBadArgument || file_road_) return false;
  // A store that takes only paths: from here on everything goes through files.
  file_road_ = true;
  return true;
}

void USave_to_PST_Format::import_header(const DispatchPtr& item, const MessageFields& message) {
  try {
    put(safe_mail_item_, dispid::kSafeItem, Variant(item));
    if (!file_road_) {
      try {
        invoke(safe_mail_item_, dispid::kImport, InvokeKind::kMethod,
               {Variant(DispatchPtr(std::make_shared<MemoryStream>(mail_header_text(message)))), Variant(kImportRfc822)});
        return;
      } catch (const AutomationError& e) {
        if (!refused_stream(e)) throw;
      }
    }
    if (!write_mail_header(message, mail_file_path_, options_.stop_flag)) return;
    invoke(safe_mail_item_, dispid::kImport, InvokeKind::kMethod, {Variant(mail_file_path_), Variant(kImportRfc822)});
  } catch (const std::exception& e) {
    // A header the import refuses costs the sender and times, not the mail; the copy of the
    // source's properties may bring them back, but the refusal is named.
    note_dropped({{"(the message header)", e.what()}});
  }
}

void USave_to_PST_Format::WriteMail(const ItemRecord& record, const DispatchPtr& target, const OstContext& context,
                                    Bid message_sub_bid) {
  attachment_collection_.reset();
  embedded_seen_.clear();
  if (!target || !record.message) return;
  // A mail whose Save and Move both fail is still one mail not written: counted once.
  struct CountOnce {
    USave_to_PST_Format& w;
    int before;
    ~CountOnce() {
      if (w.store_errors_ > before) w.store_errors_ = before + 1;
    }
  } count_once{*this, store_errors_};
  const bool per_mail = copies_per_mail(version_);
  try {
    if (stopped()) return;
    {
      std::lock_guard lock(state_.mutex);
      int& counter = state_.mail_counter;
      // The counter outlives the writer but the template does not: a later pass of the same
      // process builds its own at its first mail instead of copying from nothing.
      try {
        if (version_.starts_with("9")) {
          if (counter % 50 == 0 || !current_mail_item_) build_template(false);
        } else if (counter % 800 == 0) {
          ++counter;
          build_template(true);
        } else if (!template_item_) {
          build_template(true);
        }
      } catch (const std::exception&) {
        // The mail goes on with whatever item is current.
      }
      ++counter;
    }
    if (per_mail) {
      current_mail_item_ = invoke(template_item_, dispid::kCopy, InvokeKind::kMethod).dispatch_value();
      put(safe_mail_item_, dispid::kSafeItem, Variant(current_mail_item_));
    }
    if (stopped()) {
      current_mail_item_.reset();
      return;
    }
    if (!current_mail_item_) throw AutomationError(AutomationError::Code::kFailed, dispid::kCopy, "no mail item to write into");
    const SourceObject* source = std::exchange(next_item_source_, nullptr);
    // Meeting requests and responses, reports, posts and every other message class travel the
    // mail road too, but stay what they are.
    if (record.item_class && !record.item_class->empty() && *record.item_class != "IPM.Note") {
      put(current_mail_item_, dispid::kMessageClass, Variant(*record.item_class));
    }
    fill_mail(record, current_mail_item_, context, message_sub_bid, 0, source);
    if (stopped()) {
      current_mail_item_.reset();
      return;
    }
    if (per_mail) {
      try {
        invoke(current_mail_item_, dispid::kSave, InvokeKind::kMethod);
      } catch (const std::exception& e) {
        note_store_error(e);
      }
    }
    try {
      note_placed(invoke(current_mail_item_, dispid::kMove, InvokeKind::kMethod, {Variant(target)}), current_mail_item_);
    } catch (const std::exception& e) {
      note_store_error(e);
    }
    if (per_mail) current_mail_item_.reset();
  } catch (const std::exception& e) {
    // The mail is abandoned; the next one starts afresh.
    note_store_error(e);
    if (per_mail) current_mail_item_.reset();
  }
}

// Steps shared by a mail and a message attached to one: the imported header, subject, body,
// display texts and attachments.
void USave_to_PST_Format::fill_mail(const ItemRecord& record, const DispatchPtr& item, const OstContext& context,
                                    Bid message_sub_bid, int depth, const SourceObject* source) {
  const MessageFields& m = *record.message;
  import_header(item, m);
  if (stopped()) return;
  if (m.subject) put(item, dispid::kSubject, Variant(m.subject->text));
  if (stopped()) return;
  // A copy puts the source's own bodies on the item byte for byte afterwards: a body chosen and
  // converted here would only be replaced.
  if (!copy_brings(source, {kPidBody, kPidHtml, kPidRtfCompressed}))
    set_mail_body(m, item, TextDecoding{context.is_ansi(), record.codepage != 0 ? record.codepage : context.default_codepage});
  if (stopped()) return;
  try {
    invoke(safe_mail_item_, dispid::kSafeFields, InvokeKind::kPut, {Variant(kIconIndexTag), Variant()});
  } catch (const std::exception& e) {
    note_dropped({{"(the icon index)", e.what()}});
  }
  put(item, dispid::kUnRead, Variant(true));
  if (m.display_cc) put(item, dispid::kCC, Variant(*m.display_cc));
  if (m.display_to) put(item, dispid::kTo, Variant(*m.display_to));
  attachment_depth_ = depth;
  add_attachments(record, item, context, message_sub_bid, source);
  if (source && !stopped()) copy_item(item, *source, context);
}

void USave_to_PST_Format::note_dropped(std::vector<DroppedProperty> dropped) {
  for (auto& d : dropped) dropped_properties_.push_back(std::move(d));
}

void USave_to_PST_Format::copy_item(const DispatchPtr& item, const SourceObject& source, const OstContext& context) {
  PropertyCopy copy{context.named_properties.get(), context.is_ansi(), source.codepage, &schema_names_};
  // Entry ids that name objects of the source name the PST's objects made from them; an item
  // without any is copied as it is, without a copy of its values.
  const SourceObject* from = &source;
  std::optional<SourceObject> relinked;
  if (links_.store_key && !linked_objects(source, *links_.store_key, Nid()).empty()) {
    relinked = source;
    note_dropped(relink_object(*relinked, *links_.store_key, writing_, copy.names,
                               [this](Nid nid) { return made_object(nid); }));
    from = &*relinked;
  }
  try {
    note_dropped(copy_properties(item, from->properties, copy));
    note_dropped(copy_recipients(item, *from, copy));
    remove_unsourced(item, from->properties, copy);
  } catch (const std::exception& e) {
    // The item keeps what its writer gave it; what the copy would have added is named.
    note_dropped({{"(the item's properties)", e.what()}});
  }
}

void USave_to_PST_Format::set_mail_body(const MessageFields& message, const DispatchPtr& item,
                                        const TextDecoding& decoding) {
  if (stopped()) return;
  const MailBody body = choose_mail_body(message, decoding);
  if (body.kind == MailBody::Kind::kNone) return;
  const bool html = body.kind == MailBody::Kind::kHtml;
  if (!options_.body_limit || body.length() < *options_.body_limit) {
    put(item, html ? dispid::kHTMLBody : dispid::kBody, Variant(body.content));
    return;
  }
  // A store that refuses a body this large gets it as an attached file instead.
  const std::string path = write_export_file(temp_folder_, html ? kHtmlBodyFile : kTextBodyFile, body.content);
  try {
    DispatchPtr attachments = get(item, dispid::kAttachments).dispatch_value();
    invoke(attachments, dispid::kAddAttachment, InvokeKind::kMethod,
           {Variant(path), Variant::Missing(), Variant::Missing(), Variant::Missing()});
  } catch (...) {
    remove_file(path);
    throw;
  }
  remove_file(path);
}

void USave_to_PST_Format::AddAttachments(const ItemRecord& record, const DispatchPtr& item, const OstContext& context,
                                         Bid message_sub_bid) {
  add_attachments(record, item, context, message_sub_bid, nullptr);
}

void USave_to_PST_Format::add_attachments(const ItemRecord& record, const DispatchPtr& item, const OstContext& context,
                                          Bid message_sub_bid, const SourceObject* source) {
  const int depth = attachment_depth_;
  // The source's own properties of attachment i, when the source lists it.
  const auto copy_attachment = [&](const Variant& added, std::size_t i) {
    if (!source || i >= source->attachments.size()) return;
    const PropertyCopy copy{context.named_properties.get(), context.is_ansi(), source->codepage, &schema_names_};
    note_dropped(copy_properties(added.dispatch_value(), source->attachments[i], copy));
    remove_unsourced_attachment(added.dispatch_value(), source->attachments[i]);
  };
  for (std::size_t i = 0; i < record.attachments.size(); ++i) {
    if (stopped()) return;
    const AttachmentNode& node = record.attachments[i];
    const std::string name = attachment_display_name(node, i + 1);
    // One attachment the store refuses costs only itself, and is named: the item and its
    // other attachments are still written.
    try {
      DispatchPtr collection = get(item, dispid::kAttachments).dispatch_value();
      attachment_collection_ = collection;
      if (stopped()) break;
      if (is_embedded_message(node)) {
        const Variant added = add_embedded_message(node, i, name, collection, context, message_sub_bid, depth);
        if (!added.dispatch_value()) continue;
        try {
          copy_attachment(added, i);
        } catch (const std::exception& e) {
          note_dropped({{"(the properties of attachment \"" + name + "\")", e.what()}});
        }
        continue;
      }
      const Variant added = add_attachment_bytes(node, name, collection, context,
                                                 source && i < source->attachment_data.size() ? source->attachment_data[i] : nullptr);
      try {
        copy_attachment(added, i);
      } catch (const std::exception& e) {
        note_dropped({{"(the properties of attachment \"" + name + "\")", e.what()}});
      }
    } catch (const std::exception& e) {
      attachment_depth_ = depth;
      note_unwritten_attachment(name, cause_text(e));
    }
    if (stopped()) break;
  }
  if (stopped()) attachment_collection_.reset();
}

Variant USave_to_PST_Format::add_attachment_bytes(const AttachmentNode& node, const std::string& name,
                                                  const DispatchPtr& collection, const OstContext& context,
                                                  std::shared_ptr<const ValueReadAhead> ahead) {
  if (!file_road_) {
    std::shared_ptr<ByteStream> stream;
    if (node.data) stream = std::make_shared<MemoryStream>(std::string(node.data->begin(), node.data->end()));
    else if (ahead) stream = std::make_shared<ReadAheadStream>(ahead);
    else if (!node.data_bid.is_null()) stream = std::make_shared<SourceValueStream>(context, node.data_bid);
    else stream = std::make_shared<MemoryStream>(std::string());
    try {
      const Variant added = invoke(collection, dispid::kAddAttachment, InvokeKind::kMethod,
                                   {Variant(DispatchPtr(stream)), Variant::Missing(), Variant::Missing(), Variant(name)});
      if (stream->failed() || node.object_unreadable) unreadable_attachments_.push_back(name);
      return added;
    } catch (const AutomationError& e) {
      if (!refused_stream(e)) {
        if (stream->failed()) unreadable_attachments_.push_back(name);
        throw;
      }
    }
  }
  // The file gets a name of our own: the attachment's name may be one no file can have, and
  // it travels to the store as the display name instead.
  const std::string path = temp_folder_ + "attachment-" + std::to_string(++attachment_files_) + ".dat";
  {
    CFile64 file;
    CFileException error;
    if (!file.Open(path, CFile64::Access::kCreate, CFile64::Lock::kNone, &error)) throw error;
    if (node.data) {
      if (!node.data->empty()) file.Write(node.data->data(), node.data->size());
    } else if (ahead) {
      if (!ahead->bytes.empty()) file.Write(ahead->bytes.data(), ahead->bytes.size());
      if (ahead->failed) unreadable_attachments_.push_back(name);
    } else if (!node.data_bid.is_null() && !WriteAttachmentData(context, node.data_bid, file)) {
      unreadable_attachments_.push_back(name);
    } else if (node.object_unreadable) {
      unreadable_attachments_.push_back(name);
    }
    file.Close();
  }
  try {
    const Variant added = invoke(collection, dispid::kAddAttachment, InvokeKind::kMethod,
                                 {Variant(path), Variant::Missing(), Variant::Missing(), Variant(name)});
    remove_file(path);
    return added;
  } catch (...) {
    remove_file(path);
    throw;
  }
}

Variant USave_to_PST_Format::add_embedded_message(const AttachmentNode& node, std::size_t index,
                                                  const std::string& display_name, const DispatchPtr& collection,
                                                  const OstContext& context, Bid message_sub_bid, int depth) {
  if (depth >= kMaxEmbeddingDepth) {
    note_unwritten_attachment(display_name, "an attached message nested more than " +
                                                std::to_string(kMaxEmbeddingDepth) + " levels deep is not written");
    return {};
  }
  const auto location = FindEmbeddedMessage(context, message_sub_bid, index, node);
  if (location && !embedded_seen_.insert(location->data_bid.value).second) {
    note_unwritten_attachment(display_name, "the same attached message was already written for this item "
                                            "(the file's attachments loop)");
    return {};
  }
  std::unique_ptr<ItemRecord> inner;
  std::optional<SourceObject> inner_source;
  try {
    if (location) {
      inner = LoadEmbeddedItem(context, *location);
      inner_source = ReadSourceObject(context, location->data_bid, location->sub_bid);
    }
  } catch (const std::exception&) {
    inner.reset();
  }
  if (stopped()) return {};
  if (!inner) {
    unreadable_attachments_.push_back(display_name);
    return {};
  }
  if (!inner->message) inner->message.emplace();
  try {
    DispatchPtr item = new_mail_item();
    if (inner->item_class && !inner->item_class->empty()) put(item, dispid::kMessageClass, Variant(*inner->item_class));
    fill_mail(*inner, item, context, location->sub_bid, depth + 1, inner_source ? &*inner_source : nullptr);
    attachment_depth_ = depth;
    if (stopped()) return {};
    return invoke(collection, dispid::kAddAttachment, InvokeKind::kMethod,
                  {Variant(item), Variant(kAttachEmbeddedItem), Variant::Missing(), Variant(display_name)});
  } catch (const std::exception& e) {
    attachment_depth_ = depth;
    // The attached message is lost, and named; the mail and its other attachments are not.
    if (!stopped()) note_unwritten_attachment(display_name, cause_text(e));
  }
  return {};
}

}  // namespace salvora
