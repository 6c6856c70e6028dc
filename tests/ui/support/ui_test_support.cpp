#include "ui/support/ui_test_support.h"

#include <stdlib.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "format/prop_types.h"
#include "pststore/pst/pst_writer.h"

namespace salvora::ui::testing {

namespace {

using salvora::pst::AttachmentSpec;
using salvora::pst::MessageSpec;
using salvora::pst::Property;
using salvora::pst::PstOptions;
using salvora::pst::PstWriter;

std::vector<std::uint8_t> png_picture() {
  QImage image(24, 24, QImage::Format_RGB32);
  image.fill(QColor(200, 30, 30));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

MessageSpec mail(const std::string& subject, const std::string& sender, const std::string& to) {
  MessageSpec m;
  m.props = {Property::String(kPidMessageClass, "IPM.Note"), Property::String(kPidSubject, subject),
             Property::String(kPidSenderName, sender), Property::String(0x0042, sender),
             Property::String(kPidDisplayTo, to),
             Property::String(kPidBody, "Body of " + subject),
             Property::Time(kPidMessageDeliveryTime, 133500000000000000ull)};
  return m;
}

MessageSpec contact(const std::string& name, const std::string& email) {
  MessageSpec m;
  m.props = {Property::String(kPidMessageClass, "IPM.Contact"), Property::String(kPidSubject, name),
             Property::String(kPidDisplayName, name), Property::String(0x3003, email),
             Property::String(0x3A1C, "+49 170 000000")};
  return m;
}

}  // namespace

QString MakePrivateHome() {
  static QTemporaryDir dir;
  const QString root = dir.path();
  for (const char* sub : {"home", "config", "state", "tmp"}) QDir(root).mkpath(QLatin1String(sub));
  ::setenv("HOME", (root + "/home").toUtf8().constData(), 1);
  ::setenv("XDG_CONFIG_HOME", (root + "/config").toUtf8().constData(), 1);
  ::setenv("XDG_STATE_HOME", (root + "/state").toUtf8().constData(), 1);
  ::setenv("TMPDIR", (root + "/tmp").toUtf8().constData(), 1);
  return root;
}

std::string WriteFixtureMailbox(const QString& folder) {
  const std::string path = QDir(folder).filePath(QStringLiteral("fixture.pst")).toStdString();
  PstOptions options;
  options.display_name = "Fixture";
  auto w = PstWriter::Create(path, options);
  const auto inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
  w->AddMessage(inbox, mail(kJapaneseSubject, "山田 太郎", "佐藤 花子"));

  MessageSpec html = mail("Pictures", "Alice", "Bob");
  const std::string page = std::string("<html><body><p>Logo:</p><img src=\"cid:") + kPictureContentId +
                           "\" width=24 height=24><img src=\"" + kRemotePicture + "\"></body></html>";
  html.props.push_back(Property::Binary(kPidHtml, Bytes(reinterpret_cast<const std::uint8_t*>(page.data()), page.size())));
  AttachmentSpec picture;
  picture.props = {Property::String(kPidAttachLongFilename, "logo.png"), Property::String(kPidAttachFilename, "logo.png"),
                   Property::String(kPidAttachMimeTag, "image/png"), Property::String(0x3712, kPictureContentId)};
  picture.data = png_picture();
  html.attachments.push_back(std::move(picture));
  w->AddMessage(inbox, html);

  MessageSpec hidden;
  hidden.props = {Property::String(kPidMessageClass, "IPM.Configuration.Test"), Property::String(kPidSubject, "")};
  hidden.associated = true;
  w->AddMessage(inbox, hidden);

  const auto kontakte = w->AddFolder(w->ipm_subtree(), "Kontakte", "IPF.Contact");
  w->AddMessage(kontakte, contact("Erika Mustermann", "erika@example.de"));
  w->AddMessage(kontakte, contact("Max Mustermann", "max@example.de"));
  const auto other = w->AddFolder(w->ipm_subtree(), "Vereine", "IPF.Contact");
  w->AddMessage(other, contact("Sportverein", "info@verein.example.de"));
  w->Close();
  return path;
}

std::string WriteMixedContactsMailbox(const QString& folder) {
  const std::string path = QDir(folder).filePath(QStringLiteral("mixed.pst")).toStdString();
  PstOptions options;
  options.display_name = "Mixed";
  auto w = PstWriter::Create(path, options);
  const auto kontakte = w->AddFolder(w->ipm_subtree(), "Kontakte", "IPF.Contact");
  w->AddMessage(kontakte, contact("Erika Mustermann", "erika@example.de"));
  w->AddMessage(kontakte, mail("Filed among the contacts", "Alice", "Bob"));
  MessageSpec bare;
  bare.props = {Property::String(kPidMessageClass, "IPM.Contact"), Property::String(kPidSubject, "Nameless card")};
  w->AddMessage(kontakte, bare);
  w->Close();
  return path;
}

std::string WriteDamagedMailbox(const QString& folder) {
  const std::string path = QDir(folder).filePath(QStringLiteral("damaged.pst")).toStdString();
  PstOptions options;
  options.display_name = "Damaged";
  options.crypt = CryptMethod::kNone;  // the subject's bytes can be found and flipped in the file
  auto w = PstWriter::Create(path, options);
  const auto inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
  w->AddMessage(inbox, mail("First", "Alice", "Bob"));
  w->AddMessage(inbox, mail(kDamagedSubject, "Carol", "Dave"));
  w->AddMessage(inbox, mail("Third", "Erin", "Frank"));
  w->Close();
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadWrite)) return {};
  QByteArray bytes = file.readAll();
  // The body names the subject too ("Body of ..."): the last copy, in the body's block, is the
  // one damaged, so that the subject itself still reads.
  const QByteArray needle = QByteArray::fromRawData(reinterpret_cast<const char*>(u"Body of Quarterly"), 34);
  const qsizetype at = bytes.lastIndexOf(needle);
  if (at < 0) return {};
  bytes[at + 2] = static_cast<char>(bytes[at + 2] ^ 0x20);  // "body" for "Body": the checksum no longer matches
  file.seek(0);
  file.write(bytes);
  return path;
}

std::string WriteSyntheticStore(const QString& folder, int messages) {
  const std::string path = QDir(folder).filePath(QStringLiteral("synthetic.ost")).toStdString();
  const auto r = RunCli({"synth", path, "--messages", std::to_string(messages), "--attachments-per-message", "0",
                         "--client", "ost"});
  if (r.exit_code != 0) return {};
  return path;
}

salvora::testing::ProgramResult RunCli(const std::vector<std::string>& args) {
  return salvora::testing::RunProgram(salvora::testing::ProgramPath("salvora-cli"), args);
}

}  // namespace salvora::ui::testing
