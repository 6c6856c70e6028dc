#include "ui/support/wizard_test_env.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>

#include "ui/file_choosers.h"
#include "ui/folder_tree.h"
#include "ui/recovery_screen.h"
#include "ui/save_dialogs.h"
#include "ui/source_selection_screen.h"
#include "ui/wizard_app.h"
#include "ui/support/ui_test_support.h"
#include "ui/ui_services.h"

namespace wizard_test {

QString prepare_private_home() {
  static const QString home = salvora::ui::testing::MakePrivateHome();
  return home;
}

QString private_home() { return prepare_private_home(); }

QByteArray read_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

bool write_file(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray log_text(const QStringList& lines) {
  QByteArray text;
  for (const QString& line : lines) text += "\r\n" + line.toUtf8();
  return text;
}

ScriptedUser::ScriptedUser() {
  using salvora::ui::ui_hooks;
  ui_hooks().inform = [this](QWidget*, const QString& text, const QString& caption, QMessageBox::Icon icon) {
    informed.append({text, caption, icon, false});
    if (on_inform) on_inform(informed.back());
  };
  ui_hooks().ask = [this](QWidget*, const QString& text, const QString& caption, bool ok_cancel) {
    asked.append({text, caption, QMessageBox::Question, ok_cancel});
    if (!answers.empty()) {
      const bool next = answers.front();
      answers.pop_front();
      return next;
    }
    return answer(asked.back());
  };
  ui_hooks().open_file = [this](const QString& path) {
    opened_files.append(path);
    return viewer_available;
  };
  ui_hooks().open_url = [this](const QString& url) {
    opened_urls.append(url);
    return viewer_available;
  };
  ui_hooks().end_program = [this](int code) { ended.append(code); };

  auto& choosers = salvora::ui::file_choosers();
  choosers.open_file = [this](QWidget*, const QString& caption, const QString&, const QString& filter) {
    dialog_captions.append(caption);
    dialog_filters.append(filter);
    return files_to_open.isEmpty() ? std::nullopt : files_to_open.takeFirst();
  };
  choosers.choose_folder = [this](QWidget*, const QString& caption, const QString&) {
    dialog_captions.append(caption);
    return folders_to_choose.isEmpty() ? std::nullopt : folders_to_choose.takeFirst();
  };
}

ScriptedUser::~ScriptedUser() {
  salvora::ui::reset_ui_hooks();
  salvora::ui::reset_file_choosers();
}

QStringList ScriptedUser::informed_texts() const {
  QStringList texts;
  for (const Shown& s : informed) texts.append(s.text);
  return texts;
}

QStringList ScriptedUser::asked_texts() const {
  QStringList texts;
  for (const Shown& s : asked) texts.append(s.text);
  return texts;
}

}  // namespace wizard_test

namespace wizard_test {

QString recover_everything(salvora::ui::CTarnwellApp& wizard, const ScriptedUser& user) {
  using namespace salvora::ui;
  wizard.source_screen()->next_button()->click();
  QPointer<Repair_Recover> recovery = wizard.recovery_screen();
  if (!recovery) return QStringLiteral("no recovery screen");
  QSignalSpy analysed(recovery.data(), &Repair_Recover::analysis_finished);
  if (analysed.count() == 0 && !analysed.wait(60000)) return QStringLiteral("the analysis did not finish");
  recovery->tree()->SetChecked(recovery->tree()->topLevelItem(0), true);
  QSignalSpy saved(recovery.data(), &Repair_Recover::save_finished);
  recovery->save_button()->click();
  if (!saved.wait(60000)) return QStringLiteral("the save did not finish");
  auto* done = recovery->findChild<Last_Saving_Dialog*>();
  if (!done || !done->isVisible()) return QStringLiteral("no completion: ") + user.informed_texts().join(" | ");
  done->accept();
  return {};
}

}  // namespace wizard_test
