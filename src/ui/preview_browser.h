#pragma once
// The preview pane: the body of one item, shown without ever reaching the network.
//
// An HTML body is shown as HTML; pictures it names by "cid:" come from the item's own
// attachments, every other picture stays blank, and nothing runs (QTextBrowser has no scripts).
// A link opens in the desktop's browser only when the user clicks it. Without HTML the text of
// the RTF body is shown, else the plain body. User-interface thread only.

#include <QTextBrowser>
#include <QUrl>
#include <string>
#include <vector>

#include "content/item_record.h"

namespace salvora::ui {

// What the preview shows of an item, decided away from the widget.
struct PreviewContent {
  QString from;
  QString to;
  QString subject;
  bool html = false;
  QString body;  // HTML or plain text
  // Pictures the HTML may name by content id (or by file name, as some mailers do).
  struct Picture {
    QString content_id;
    QString file_name;
    QByteArray data;
  };
  std::vector<Picture> pictures;
};

// The HTML of a body as text: UTF-8 when it is valid UTF-8, else in the character set that
// the HTML declares, else in the item's code page.
QString html_text(const ByteVector& html, std::uint32_t item_codepage);

PreviewContent preview_content(const ItemRecord& record);

class PreviewBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  explicit PreviewBrowser(QWidget* parent = nullptr);

  void ShowContent(const PreviewContent& content);
  // A page of the installed resources (the waiting, completion and abort pages).
  void ShowPage(const QString& file);

  // Addresses the page asked for that were refused (remote and unknown pictures), for tests.
  const QList<QUrl>& refused() const { return refused_; }

 protected:
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  std::vector<PreviewContent::Picture> pictures_;
  QString page_folder_;  // the folder whose files a page may use; empty while a mail is shown
  QList<QUrl> refused_;
};

}  // namespace salvora::ui
