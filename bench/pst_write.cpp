// Writes a synthetic mailbox with the PST writer and prints throughput and peak memory.
//
//   bench_pst_write [--messages N] [--folders F] [--attachment-bytes B] [--stream] [--out FILE] [--keep]
//
// Every third message carries an attachment of B bytes (default 64 KB), from memory or, with
// --stream, streamed from a scratch file (as the store server does for large attachments);
// bodies are a few KB of text in several scripts.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "format/prop_types.h"
#include "platform/file64.h"
#include "pststore/pst/pst_writer.h"

using namespace salvora;
using namespace salvora::pst;

namespace {

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  int messages = 20000, folders = 20;
  std::size_t attachment_bytes = 64 * 1024;
  std::string out = (std::filesystem::temp_directory_path() / "salvora-bench.pst").string();
  bool keep = false, stream = false;
  for (int i = 1; i < argc; ++i) {
    auto next = [&] { return i + 1 < argc ? argv[++i] : "0"; };
    if (!std::strcmp(argv[i], "--messages")) messages = std::atoi(next());
    else if (!std::strcmp(argv[i], "--folders")) folders = std::max(1, std::atoi(next()));
    else if (!std::strcmp(argv[i], "--attachment-bytes")) attachment_bytes = std::strtoull(next(), nullptr, 10);
    else if (!std::strcmp(argv[i], "--out")) out = next();
    else if (!std::strcmp(argv[i], "--keep")) keep = true;
    else if (!std::strcmp(argv[i], "--stream")) stream = true;
  }
  const auto start = std::chrono::steady_clock::now();
  PstOptions options;
  options.display_name = "bench";
  auto w = PstWriter::Create(out, options);
  std::vector<FolderId> ids;
  for (int f = 0; f < folders; ++f) ids.push_back(w->AddFolder(f % 4 == 0 || ids.empty() ? w->ipm_subtree() : ids.back(), "Folder " + std::to_string(f), "IPF.Note"));
  std::string body;
  while (body.size() < 3000) body += "Lorem ipsum dolor sit amet — Привет мир — こんにちは — ";
  std::vector<std::uint8_t> blob(stream ? 0 : attachment_bytes);
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
  const std::string blob_path = out + ".attachment";
  if (stream) {
    CFile64 f;
    f.Open(blob_path, CFile64::Access::kCreate);
    std::vector<std::uint8_t> chunk(1 << 20);
    for (std::size_t done = 0; done < attachment_bytes; done += chunk.size()) {
      for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>((done + i) * 131);
      f.Write(chunk.data(), std::min(chunk.size(), attachment_bytes - done));
    }
  }
  std::uint64_t payload = 0;
  for (int m = 0; m < messages; ++m) {
    MessageSpec msg;
    msg.props = {Property::String(kPidSubject, "Message number " + std::to_string(m)),
                  Property::String(kPidSenderName, "Sender " + std::to_string(m % 97)),
                  Property::String(kPidSenderEmailAddress, "sender@example.org"),
                  Property::String(kPidBody, body),
                  Property::Time(kPidMessageDeliveryTime, 133000000000000000ull + static_cast<std::uint64_t>(m) * 10000000ull)};
    msg.recipients.push_back({{Property::Int32(kPidRecipientType, 1), Property::String(kPidDisplayName, "Recipient"),
                                Property::String(kPidEmailAddress, "rcpt@example.org")}});
    payload += body.size() * 2;
    if (m % 3 == 0 && attachment_bytes > 0) {
      AttachmentSpec a;
      a.props = {Property::String(kPidAttachLongFilename, "file" + std::to_string(m) + ".bin")};
      if (stream) a.data_path = blob_path;
      else a.data = blob;
      msg.attachments.push_back(std::move(a));
      payload += attachment_bytes;
    }
    w->AddMessage(ids[static_cast<std::size_t>(m) % ids.size()], msg);
  }
  w->Close();
  if (stream) std::filesystem::remove(blob_path);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto s = w->stats();
  std::printf("messages            %d\n", messages);
  std::printf("folders             %d\n", folders);
  std::printf("seconds             %.2f\n", secs);
  std::printf("messages/s          %.0f\n", messages / secs);
  std::printf("payload MB/s        %.1f\n", static_cast<double>(payload) / 1e6 / secs);
  std::printf("written MB/s        %.1f\n", static_cast<double>(s.bytes_written) / 1e6 / secs);
  std::printf("file MB             %.1f\n", static_cast<double>(s.file_size) / 1e6);
  std::printf("commits             %llu\n", static_cast<unsigned long long>(s.commits));
  std::printf("peak RSS MB         %.1f\n", static_cast<double>(PeakRssKb()) / 1024.0);
  // What grows with the messages: the folder tables' rows; the indexes stay small.
  std::printf("table rows MB       %.1f\n", static_cast<double>(s.row_bytes) / 1e6);
  std::printf("indexes MB          %.2f\n", static_cast<double>(s.index_bytes) / 1e6);
  std::printf("index bytes/message %.1f\n", static_cast<double>(s.index_bytes) / std::max(1, messages));
  if (!keep) std::filesystem::remove(out);
  else std::printf("file                %s\n", out.c_str());
  return 0;
}
