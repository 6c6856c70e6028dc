// How the item list shows texts, dates and layouts, and how the preview decodes HTML.

#include <QtTest>
#include <ctime>
#include <stdlib.h>

#include "ui/item_list_model.h"
#include "ui/preview_browser.h"
#include "ui/support/ui_test_support.h"

using namespace salvora::ui;

class ItemListTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { testing::MakePrivateHome(); }

  void texts_keep_every_script_and_blank_control_characters() {
    QCOMPARE(display_text("Grüße\taus\r\nМосква 東京"), QStringLiteral("Grüße aus  Москва 東京"));
    QCOMPARE(display_text(std::string("a\x7f" "b\x01")), QStringLiteral("a b "));
    const std::string long_text(300, 'x');
    QCOMPARE(shortened_text(long_text), QString(200, QLatin1Char('x')) + QStringLiteral("..."));
    QCOMPARE(shortened_text(std::string(254, 'y')).size(), 254);
  }

  void dates_are_local_time_in_the_asctime_layout() {
    const QByteArray old_tz = qgetenv("TZ");
    qputenv("TZ", "Asia/Tokyo");
    ::tzset();
    // 2024-01-02 23:30:05 UTC is the 3rd in Tokyo.
    const std::uint64_t filetime = (1704238205ull + 11644473600ull) * 10000000ull;
    QCOMPARE(display_time(filetime), QStringLiteral("Wed Jan  3 08:30:05 2024"));
    QCOMPARE(display_time(0), QString());
    if (old_tz.isNull()) qunsetenv("TZ");
    else qputenv("TZ", old_tz);
    ::tzset();
  }

  void layout_follows_the_container_class_data() {
    QTest::addColumn<QString>("container_class");
    QTest::addColumn<int>("layout");
    QTest::newRow("mail") << "IPF.Note" << static_cast<int>(ListLayout::kMail);
    QTest::newRow("none") << "" << static_cast<int>(ListLayout::kMail);
    QTest::newRow("contact") << "IPF.Contact" << static_cast<int>(ListLayout::kContacts);
    QTest::newRow("contact subclass") << "IPF.Contact.MOC.QuickContacts" << static_cast<int>(ListLayout::kContacts);
    QTest::newRow("not a subclass") << "IPF.Contacts2" << static_cast<int>(ListLayout::kMail);
    QTest::newRow("task") << "ipf.task" << static_cast<int>(ListLayout::kTasks);
    QTest::newRow("journal") << "IPF.Journal" << static_cast<int>(ListLayout::kJournal);
    QTest::newRow("notes") << "IPF.StickyNote" << static_cast<int>(ListLayout::kNotes);
    QTest::newRow("calendar") << "IPF.Appointment" << static_cast<int>(ListLayout::kCalendar);
  }
  void layout_follows_the_container_class() {
    QFETCH(QString, container_class);
    QFETCH(int, layout);
    QCOMPARE(static_cast<int>(layout_for_class(container_class)), layout);
  }

  void html_is_read_in_its_declared_character_set() {
    const std::string utf8 = "<p>Grüße</p>";
    QCOMPARE(html_text(salvora::ByteVector(utf8.begin(), utf8.end()), 1252), QStringLiteral("<p>Grüße</p>"));
    const std::string latin = "<meta charset=\"windows-1252\"><p>Gr\xfc\xdf" "e \x80</p>";
    QVERIFY(html_text(salvora::ByteVector(latin.begin(), latin.end()), 932).endsWith(QStringLiteral("<p>Grüße €</p>")));
    const std::string sjis = "<meta http-equiv=Content-Type content=\"text/html; charset=shift_jis\">\x93\xfa\x96\x7b";
    QVERIFY(html_text(salvora::ByteVector(sjis.begin(), sjis.end()), 1252).endsWith(QStringLiteral("日本")));
    // Nothing declared: the item's code page.
    const std::string cyr = "<p>\xcf\xf0\xe8\xe2\xe5\xf2</p>";
    QCOMPARE(html_text(salvora::ByteVector(cyr.begin(), cyr.end()), 1251), QStringLiteral("<p>Привет</p>"));
  }

  void model_lists_one_folder_and_follows_the_pass() {
    salvora::AnalysisResult result;
    const salvora::Nid inbox(0x8022), other(0x8042);
    result.mail_folders.Add("Personal Folders\\", salvora::Nid(0x8002));
    auto& entry = result.mail_folders.Add("Personal Folders\\Inbox\\", inbox);
    entry.items.push_back({salvora::Nid(0x200004), inbox, std::nullopt, std::string("Hello"), std::nullopt, std::nullopt});
    result.tasks.push_back({salvora::Nid(0x200024), inbox, std::nullopt, std::string("first"), std::nullopt, std::nullopt});
    result.tasks.push_back({salvora::Nid(0x200044), other, std::nullopt, std::string("elsewhere"), std::nullopt, std::nullopt});

    ItemListModel model;
    model.ShowFolder(&result, inbox, ListLayout::kMail);
    // Every item the folder holds: the task too, its subject where the mail's is.
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.data(model.index(1, 1), Qt::DisplayRole).toString(), QStringLiteral("first"));
    QCOMPARE(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QString());
    QCOMPARE(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("To"));
    QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("None"));
    QCOMPARE(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("Hello"));
    QCOMPARE(model.data(model.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("None"));
    {
      std::lock_guard lock(result.lists_mutex);
      result.mail_folders.entries()[1].items.push_back(
          {salvora::Nid(0x200064), inbox, std::string("Ann"), std::nullopt, std::string("Ben"), std::nullopt});
    }
    model.Refresh();
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.data(model.index(2, 1), Qt::DisplayRole).toString(), QStringLiteral("Unspecified"));
    QCOMPARE(model.NidAt(2).value, 0x200064u);

    // A mail of a folder that is not a mail folder (a note in a calendar) rides in another
    // folder's entry, and is listed under its own folder only.
    const salvora::Nid calendar(0x8062);
    {
      std::lock_guard lock(result.lists_mutex);
      result.mail_folders.entries()[1].items.push_back(
          {salvora::Nid(0x200104), calendar, std::nullopt, std::string("stray"), std::nullopt, std::nullopt});
    }
    model.Refresh();
    QCOMPARE(model.rowCount(), 3);
    model.ShowFolder(&result, calendar, ListLayout::kMail);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("stray"));

    // Items of this folder only, the newest first; its two mails are listed too.
    model.ShowFolder(&result, inbox, ListLayout::kTasks);
    QCOMPARE(model.rowCount(), 3);
    result.tasks.push_back({salvora::Nid(0x200084), inbox, std::nullopt, std::string("second"), std::nullopt, std::nullopt});
    model.Refresh();
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("second"));
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Due Date"));
  }
};

QTEST_MAIN(ItemListTest)
#include "item_list_test.moc"
