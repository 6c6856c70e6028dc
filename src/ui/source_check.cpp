#include "ui/source_check.h"

#include <unistd.h>

#include <QFileInfo>
#include <filesystem>

#include "ndb/ost_context.h"

namespace salvora::ui {

namespace {

QString local(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QString megabytes(std::uint64_t bytes) { return QString::number((bytes + (1u << 20) - 1) >> 20); }

}  // namespace

QString source_problem(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty() || !info.exists()) return QStringLiteral("Source path doesn't exist");
  if (info.isDir()) return QStringLiteral("%1: is a folder, not an Outlook data file").arg(path);
  OstContext ctx;
  if (OpenStore(ctx, path.toStdString()) != 0) {
    const CFileException& e = ctx.open_error;
    if (e.cause() == CFileException::sharingViolation || e.cause() == CFileException::lockViolation) {
      return QStringLiteral("%1: the file is in use by another program").arg(path);
    }
    return local(e.message());
  }
  const StoreHeader& h = ctx.header;
  if (!h.magic_ok) return QStringLiteral("%1: not an Outlook data file (PST or OST)").arg(path);
  if (h.layout == FileLayout::kUnknown) {
    return QStringLiteral("%1: unsupported Outlook data file version %2").arg(path).arg(h.version);
  }
  if (!h.crypt) {
    return QStringLiteral("%1: unsupported block encoding 0x%2").arg(path, QString::number(h.crypt_byte, 16).toUpper().rightJustified(2, QLatin1Char('0')));
  }
  return {};
}

QString destination_problem(const QString& folder, std::uint64_t source_size) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string wanted = folder.toStdString();
  fs::path existing = fs::path(wanted).lexically_normal();
  // The nearest folder that exists decides: the rest is made with the PST.
  while (!fs::exists(existing, ec) && existing.has_parent_path() && existing != existing.parent_path()) {
    existing = existing.parent_path();
  }
  if (!fs::is_directory(existing, ec)) {
    return QStringLiteral("%1: the destination folder cannot be created (%2 is not a folder)")
        .arg(folder, local(existing.string()));
  }
  if (::access(existing.c_str(), W_OK | X_OK) != 0) {
    return QStringLiteral("%1: the destination folder is not writable").arg(folder);
  }
  const fs::space_info space = fs::space(existing, ec);
  // The PST is seldom larger than the source it comes from; less room than that will not do.
  if (!ec && space.available < source_size) {
    return QStringLiteral("%1: not enough free space for the PST (%2 MB free, the source is %3 MB)")
        .arg(folder, megabytes(space.available), megabytes(source_size));
  }
  return {};
}

}  // namespace salvora::ui
