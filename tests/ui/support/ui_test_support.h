#pragma once
// What the wizard's tests share: a private home for the settings and logs, fixture mailboxes
// written with the PST writer, and the command-line program for checks. The stand-in for the
// user who answers the message boxes is wizard_test::ScriptedUser.

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace salvora::ui::testing {

// Points HOME, XDG_CONFIG_HOME, XDG_STATE_HOME and TMPDIR at a fresh folder. Call before
// anything reads the settings (the product globals load once per process).
QString MakePrivateHome();

// A small mailbox written with our PST writer: an Inbox with a Japanese subject, an HTML mail
// naming a picture by cid: and a remote picture, and a hidden configuration message; a
// contacts folder named "Kontakte" with two contacts; a second contacts folder with one.
// Returns the file's path.
std::string WriteFixtureMailbox(const QString& folder);
// The content id and remote address the HTML mail names.
inline constexpr const char* kPictureContentId = "logo123@salvora.test";
inline constexpr const char* kRemotePicture = "http://images.example.com/tracker.png";
inline constexpr const char* kJapaneseSubject = "会議の議事録について";

// A contacts folder "Kontakte" holding a contact, a mail and a contact without contact fields.
std::string WriteMixedContactsMailbox(const QString& folder);

// An Inbox of three mails, the one with subject kDamagedSubject stored with bytes flipped so
// that its block fails its checksum: read as it is, and named as damaged.
std::string WriteDamagedMailbox(const QString& folder);
inline constexpr const char* kDamagedSubject = "Quarterly figures";

// A synthetic offline store of this many messages without attachments (salvora-cli synth).
std::string WriteSyntheticStore(const QString& folder, int messages);

// salvora-cli with these arguments.
salvora::testing::ProgramResult RunCli(const std::vector<std::string>& args);

}  // namespace salvora::ui::testing
