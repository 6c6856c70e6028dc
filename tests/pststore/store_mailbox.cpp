#include "pststore/store_mailbox.h"

#include "automation/member_ids.h"
#include "format/filetime.h"
#include "pststore/store_driver.h"

namespace salvora::store::testing {

namespace {
using K = InvokeKind;
}

StandardValues WriteStandardMailbox(const std::string& path) {
  StandardValues v;
  v.submit = filetime_of(2024, 3, 5, 10, 20, 30);
  v.delivery = filetime_of(2024, 3, 5, 10, 21, 0);
  v.start = filetime_of(2024, 4, 1, 9, 0, 0);
  v.end = filetime_of(2024, 4, 1, 10, 30, 0);
  v.completed = filetime_of(2024, 4, 2, 0, 0, 0);
  v.small_file = {'q', 'u', 'a', 'r', 't', 'e', 'r', '\n'};
  v.big_file.resize(1'500'000);
  std::uint32_t x = 12345;
  for (auto& b : v.big_file) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }

  SaveDriver d(path, v.display_name);
  const DispatchPtr inbox = d.Folder({{"Inbox", "IPF.Post"}});
  const DispatchPtr projects = d.Folder({{"Inbox", "IPF.Post"}, {"Projects", "IPF.Post"}});
  const DispatchPtr calendar = d.Folder({{"Calendar", "IPF.Appointment"}});
  const DispatchPtr contacts = d.Folder({{"Contacts", "IPF.Contact"}});
  const DispatchPtr tasks = d.Folder({{"Tasks", "IPF.Task"}});
  const DispatchPtr journal = d.Folder({{"Journal", "IPF.Journal"}});
  const DispatchPtr notes = d.Folder({{"Notes", "IPF.StickyNote"}});

  // Appointment: the writer's two puts of the start's halves to the reminder flag, then the
  // start, end and location by their own members.
  {
    DispatchPtr a = d.CreateItem(kItemAppointment);
    put(a, dispid::kBody, "Agenda");
    put(a, dispid::kSubject, "Planning");
    put(a, dispid::kReminderSet, false);
    put(a, dispid::kReminderSet, true);
    put(a, dispid::kStart, Variant::Date(filetime_to_date(v.start)));
    put(a, dispid::kEnd, Variant::Date(filetime_to_date(v.end)));
    put(a, dispid::kLocation, "Room 4");
    d.SaveAndMove(a, calendar);
  }
  {
    DispatchPtr c = d.CreateItem(kItemContact);
    put(c, dispid::kOrganizationalIdNumber, "E-17");
    put(c, dispid::kFullName, "Holly Hunter");
    put(c, dispid::kFileAs, "Hunter, Holly");
    put(c, dispid::kGivenName, "Holly");
    put(c, dispid::kSurname, "Hunter");
    put(c, dispid::kBusinessAddress, "1 Main St\r\nSpringfield");
    put(c, dispid::kBusinessAddressStreet, "1 Main St");
    put(c, dispid::kBusinessAddressCity, "Springfield");
    put(c, dispid::kMileage, "120 km");
    put(c, dispid::kBody, "Met at the fair");
    put(c, dispid::kGender, std::int32_t{2});
    put(c, dispid::kSubject, "Jr.");
    put(c, dispid::kGeneration, "Jr.");
    put(c, dispid::kEmail1Address, "holly@example.org");
    put(c, dispid::kCompanyName, "Acme");
    put(c, dispid::kMobileTelephoneNumber, "+1 555 0100");
    d.SaveAndMove(c, contacts);
  }
  {
    DispatchPtr t = d.CreateItem(kItemTask);
    put(t, dispid::kBody, "Do it");
    put(t, dispid::kTaskContactNames, "Frank");
    put(t, dispid::kSubject, "Task one");
    put(t, dispid::kTaskDateCompleted, Variant::Date(filetime_to_date(v.completed)));
    d.SaveAndMove(t, tasks);
  }
  {
    DispatchPtr j = d.CreateItem(kItemJournal);
    put(j, dispid::kBody, "Telep");
    put(j, dispid::kTo, "Grace");
    put(j, dispid::kSubject, "Topic");
    put(j, dispid::kSubject, "Call with Grace");
    d.SaveAndMove(j, journal);
  }
  {
    DispatchPtr n = d.CreateItem(kItemNote);
    put(n, dispid::kBody, "Buy milk\r\nand bread");
    invoke(n, dispid::kClose, K::kMethod, {std::int32_t{1}});
    invoke(n, dispid::kMove, K::kMethod, {notes});
  }
  {
    DispatchPtr inner = d.CreateItem(kItemNote);
    put(inner, dispid::kMessageClass, "IPM.Note");
    put(inner, dispid::kSubject, "Original message");
    put(inner, dispid::kBody, "inner text");
    MailInput m;
    m.sender_name = "Ann Example";
    m.sender_address = "ann@example.com";
    m.display_to = "Bob Builder; Carl Smith";
    m.received_by = "bob@example.com";
    m.display_cc = "Dora Cc";
    m.submit = v.submit;
    m.delivery = v.delivery;
    m.subject = "RE: Quarterly report";
    m.html = v.html;
    m.files = {{"report.txt", v.small_file}, {"big.bin", v.big_file}};
    m.embedded = inner;
    m.embedded_name = "Original message";
    d.WriteMail(m, inbox);
  }
  {
    MailInput m;
    m.sender_name = "Eve";
    m.subject = "Plain one";
    m.body = "plain body text";
    d.WriteMail(m, projects);
  }
  return v;
}

}  // namespace salvora::store::testing
