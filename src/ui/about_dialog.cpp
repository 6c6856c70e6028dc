#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/icons.h"
#include "ui/screen_commands.h"
#include "ui/ui_services.h"

namespace salvora::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About %1").arg(product_title()));
  setWindowIcon(application_icon());
  setAccessibleName(windowTitle());

  auto* icon = new QLabel(this);
  icon->setPixmap(application_icon().pixmap(64, 64));
  icon->setAccessibleName(QStringLiteral("Product icon"));
  auto* name = new QLabel(QStringLiteral("<b>Salvora for OST to PST v.1.0</b>"), this);
  name->setAccessibleName(QStringLiteral("Salvora for OST to PST v.1.0"));
  auto* about = new QLabel(QStringLiteral("Recovers a mailbox from an Outlook offline store (.ost) "
                                          "into a new personal folder file (.pst)."),
                           this);
  about->setWordWrap(true);
  about->setAccessibleName(about->text());
  const QString url = QString::fromLatin1(kWebPageUrl);
  link_ = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url, QUrl(url).host()), this);
  link_->setAccessibleName(QStringLiteral("Web page"));
  link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(link_, &QLabel::linkActivated, this, [](const QString& target) { ui_hooks().open_url(target); });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* texts = new QVBoxLayout;
  texts->addWidget(name);
  texts->addWidget(about);
  texts->addWidget(link_);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setMinimumWidth(380);
}

}  // namespace salvora::ui
