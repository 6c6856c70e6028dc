#include "ui/preview_browser.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>

#include "content/rtf_to_text.h"
#include "format/text.h"
#include "platform/product_globals.h"
#include "ui/item_list_model.h"
#include "ui/ui_services.h"

namespace salvora::ui {

namespace {

struct CharsetCodepage {
  const char* name;
  std::uint32_t codepage;
};

constexpr CharsetCodepage kCharsets[] = {
    {"utf-8", 65001},        {"iso-8859-1", 28591}, {"iso-8859-2", 28592},  {"iso-8859-5", 28595},
    {"iso-8859-7", 28597},   {"iso-8859-15", 28605}, {"shift_jis", 932},    {"shift-jis", 932},
    {"x-sjis", 932},         {"gb2312", 936},       {"gbk", 936},           {"big5", 950},
    {"ks_c_5601-1987", 949}, {"euc-kr", 51949},     {"euc-jp", 51932},      {"iso-2022-jp", 50220},
    {"koi8-r", 20866},       {"koi8-u", 21866},     {"us-ascii", 20127},
};

bool valid_utf8(const ByteVector& bytes) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return sanitize_utf8(view) == view;
}

// The code page of the charset an HTML document declares near its start, or 0.
std::uint32_t declared_codepage(const ByteVector& html) {
  const std::size_t n = std::min<std::size_t>(html.size(), 4096);
  const QString head = QString::fromLatin1(reinterpret_cast<const char*>(html.data()), static_cast<qsizetype>(n));
  static const QRegularExpression charset(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
                                          QRegularExpression::CaseInsensitiveOption);
  const auto match = charset.match(head);
  if (!match.hasMatch()) return 0;
  const QString name = match.captured(1).toLower();
  if (name.startsWith(QLatin1String("windows-"))) return name.mid(8).toUInt();
  if (name.startsWith(QLatin1String("cp"))) return name.mid(2).toUInt();
  for (const auto& c : kCharsets) {
    if (name == QLatin1String(c.name)) return c.codepage;
  }
  return 0;
}

QString from_utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

bool is_picture_type(const PreviewContent::Picture& p, const AttachmentNode& a) {
  if (a.mime_tag && QString::fromStdString(*a.mime_tag).startsWith(QLatin1String("image/"), Qt::CaseInsensitive))
    return true;
  static const QRegularExpression ext(QStringLiteral("\\.(png|jpe?g|gif|bmp|webp|tiff?)$"),
                                      QRegularExpression::CaseInsensitiveOption);
  return ext.match(p.file_name).hasMatch() || !p.content_id.isEmpty();
}

}  // namespace

QString html_text(const ByteVector& html, std::uint32_t item_codepage) {
  if (valid_utf8(html)) {
    return QString::fromUtf8(reinterpret_cast<const char*>(html.data()), static_cast<qsizetype>(html.size()));
  }
  std::uint32_t codepage = declared_codepage(html);
  if (codepage == 0 || codepage == 65001) codepage = item_codepage != 0 ? item_codepage : 1252;
  return from_utf8(codepage_to_utf8(std::span<const std::uint8_t>(html.data(), html.size()), codepage));
}

PreviewContent preview_content(const ItemRecord& record) {
  PreviewContent out;
  if (record.message) {
    const MessageFields& m = *record.message;
    out.from = m.sender_name && !m.sender_name->empty() ? display_text(*m.sender_name) : QStringLiteral("None");
    out.to = m.display_to && !m.display_to->empty() ? display_text(*m.display_to) : QStringLiteral("None");
    out.subject = m.subject && !m.subject->text.empty() ? display_text(m.subject->text) : QStringLiteral("Unspecified");
    if (m.html_body && !m.html_body->empty()) {
      out.html = true;
      out.body = html_text(*m.html_body, record.codepage);
    } else if (m.rtf_body && !m.rtf_body->empty()) {
      std::string text;
      rtf_to_text(Bytes(m.rtf_body->data(), m.rtf_body->size()), text);
      out.body = from_utf8(text);
    }
    if (out.body.isEmpty() && !out.html) {
      if (m.plain_body) out.body = from_utf8(*m.plain_body);
      else if (m.text_a) out.body = from_utf8(*m.text_a);
    }
  } else {
    out.subject = record.display_name ? display_text(*record.display_name) : QString();
  }
  for (const AttachmentNode& a : record.attachments) {
    if (!a.data || a.data->empty()) continue;
    PreviewContent::Picture p;
    if (a.content_id) p.content_id = from_utf8(*a.content_id);
    p.file_name = from_utf8(a.long_file_name ? *a.long_file_name : a.file_name.value_or(std::string()));
    if (!is_picture_type(p, a)) continue;
    p.data = QByteArray(reinterpret_cast<const char*>(a.data->data()), static_cast<qsizetype>(a.data->size()));
    out.pictures.push_back(std::move(p));
  }
  return out;
}

PreviewBrowser::PreviewBrowser(QWidget* parent) : QTextBrowser(parent) {
  setObjectName(QStringLiteral("previewBrowser"));
  setAccessibleName(QStringLiteral("Preview"));
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setReadOnly(true);
  // A click on a link is the only way out of the pane, and it goes to the desktop's browser.
  connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
    if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https") ||
        url.scheme() == QLatin1String("mailto")) {
      ui_hooks().open_url(url.toString());
    }
  });
}

void PreviewBrowser::ShowContent(const PreviewContent& content) {
  pictures_ = content.pictures;
  page_folder_.clear();
  refused_.clear();
  if (content.html) setHtml(content.body);
  else setPlainText(content.body);
}

void PreviewBrowser::ShowPage(const QString& file) {
  pictures_.clear();
  refused_.clear();
  const QString folder = QString::fromStdString(product_globals().install_folder);
  page_folder_ = folder;
  QFile page(QDir(folder).filePath(file));
  if (!page.open(QIODevice::ReadOnly)) {
    clear();  // a missing page changes nothing but this pane
    return;
  }
  setHtml(QString::fromUtf8(page.readAll()));
}

QVariant PreviewBrowser::loadResource(int type, const QUrl& name) {
  if (type == QTextDocument::ImageResource && name.scheme().compare(QLatin1String("cid"), Qt::CaseInsensitive) == 0) {
    const QString id = name.toString(QUrl::FullyDecoded).mid(4);
    for (const auto& p : pictures_) {
      if (p.content_id.compare(id, Qt::CaseInsensitive) == 0 ||
          p.content_id.compare(QLatin1Char('<') + id + QLatin1Char('>'), Qt::CaseInsensitive) == 0) {
        QImage image;
        if (image.loadFromData(p.data)) return image;
      }
    }
    // Some mailers name the picture's file instead of its content id.
    const QString file = id.section(QLatin1Char('@'), 0, 0);
    for (const auto& p : pictures_) {
      if (!file.isEmpty() && p.file_name.compare(file, Qt::CaseInsensitive) == 0) {
        QImage image;
        if (image.loadFromData(p.data)) return image;
      }
    }
  }
  // Pages of the installed resources may use their own files; nothing else is ever fetched.
  if (!page_folder_.isEmpty() && name.isRelative() && !name.path().contains(QLatin1String(".."))) {
    return QTextBrowser::loadResource(type, QUrl::fromLocalFile(QDir(page_folder_).filePath(name.path())));
  }
  refused_.append(name);
  return {};
}

}  // namespace salvora::ui
