#pragma once
// The member numbers of the calls the save pass makes, the same numbers Outlook's automation
// interface gives these members, so the writer's calls read as calls on Outlook do. The store
// server behind the boundary answers exactly these.

#include <cstdint>
#include <string_view>

#include "automation/dispatch.h"

namespace salvora {

// Server names for the object factory.
inline constexpr std::string_view kOutlookApplication = "Outlook.Application";
inline constexpr std::string_view kSafeMailItem = "Redemption.SafeMailItem";

namespace dispid {

// Application.
inline constexpr MemberId kCreateItem = 0x010A;    // method (int32 item type) -> item
inline constexpr MemberId kGetNamespace = 0x0110;  // method ("MAPI") -> namespace
inline constexpr MemberId kVersion = 0x0116;       // get -> string

// Namespace.
inline constexpr MemberId kLogon = 0x2105;          // method (4 arguments, all empty)
inline constexpr MemberId kAddStore = 0x2119;       // method (store file path)
inline constexpr MemberId kFolders = 0x2103;        // get -> folder collection (also on a folder)
inline constexpr MemberId kGetItemFromID = 0x2109;  // method (entry id, store id) -> item

// Folder collection.
inline constexpr MemberId kGetLast = 0x0058;    // method -> root folder of the store added last
inline constexpr MemberId kCount = 0x0050;      // get -> int32
inline constexpr MemberId kItem = 0x0051;       // method (int32, 1-based) -> folder
inline constexpr MemberId kAddFolder = 0x005F;  // method (name, folder type) -> new folder

// Folder.
inline constexpr MemberId kName = 0x3001;         // get, put string
inline constexpr MemberId kDescription = 0x3004;  // put string

// Items.
inline constexpr MemberId kSubject = 0x0037;       // put string
inline constexpr MemberId kBody = 0x9100;          // put string
inline constexpr MemberId kHTMLBody = 0xF404;      // put string (mail)
inline constexpr MemberId kMessageClass = 0x001A;  // put string
inline constexpr MemberId kCC = 0x0E03;            // put string (mail)
inline constexpr MemberId kTo = 0x0E04;            // put string (mail; a journal's contact text)
inline constexpr MemberId kUnRead = 0xF01C;        // put bool (mail)
inline constexpr MemberId kEntryID = 0xF01E;       // get -> string
inline constexpr MemberId kCopy = 0xF032;          // method -> item
inline constexpr MemberId kDelete = 0xF04A;        // method
inline constexpr MemberId kSave = 0xF048;          // method
inline constexpr MemberId kClose = 0xF023;         // method (int32 save mode)
inline constexpr MemberId kMove = 0xF034;          // method (folder) -> item
inline constexpr MemberId kAttachments = 0xF815;   // get -> attachment collection

// Attachment collection.
inline constexpr MemberId kAddAttachment = 0x0065;  // method (source, type, position, display name)

// Task and appointment members; each number is the id of the named property it sets.
inline constexpr MemberId kTaskContactNames = 0x853C;   // put string
inline constexpr MemberId kTaskDateCompleted = 0x810F;  // put DATE
inline constexpr MemberId kReminderSet = 0x8503;        // put bool (appointment)
inline constexpr MemberId kLocation = 0x8208;           // put string (appointment)
inline constexpr MemberId kStart = 0x820D;              // put DATE (appointment)
inline constexpr MemberId kEnd = 0x820E;                // put DATE (appointment)

// Contact fields: each member's number is the property id of the field it sets (ids of 0x8000
// and above are named properties of the address set). All take a string, but kGender an int32.
inline constexpr MemberId kFullName = 0x3001;
inline constexpr MemberId kAccount = 0x3A00;
inline constexpr MemberId kCallbackTelephoneNumber = 0x3A02;
inline constexpr MemberId kGeneration = 0x3A05;
inline constexpr MemberId kGivenName = 0x3A06;
inline constexpr MemberId kGovernmentIdNumber = 0x3A07;
inline constexpr MemberId kBusinessTelephoneNumber = 0x3A08;
inline constexpr MemberId kHomeTelephoneNumber = 0x3A09;
inline constexpr MemberId kLanguage = 0x3A0C;
inline constexpr MemberId kOrganizationalIdNumber = 0x3A10;
inline constexpr MemberId kSurname = 0x3A11;
inline constexpr MemberId kCompanyName = 0x3A16;
inline constexpr MemberId kJobTitle = 0x3A17;
inline constexpr MemberId kDepartmentName = 0x3A18;
inline constexpr MemberId kOfficeLocation = 0x3A19;
inline constexpr MemberId kBusiness2TelephoneNumber = 0x3A1B;
inline constexpr MemberId kMobileTelephoneNumber = 0x3A1C;
inline constexpr MemberId kRadioTelephoneNumber = 0x3A1D;
inline constexpr MemberId kCarTelephoneNumber = 0x3A1E;
inline constexpr MemberId kOtherTelephoneNumber = 0x3A1F;
inline constexpr MemberId kPagerNumber = 0x3A21;
inline constexpr MemberId kBusinessFaxNumber = 0x3A24;
inline constexpr MemberId kHomeFaxNumber = 0x3A25;
inline constexpr MemberId kTelexNumber = 0x3A2C;
inline constexpr MemberId kISDNNumber = 0x3A2D;
inline constexpr MemberId kAssistantTelephoneNumber = 0x3A2E;
inline constexpr MemberId kHome2TelephoneNumber = 0x3A2F;
inline constexpr MemberId kAssistantName = 0x3A30;
inline constexpr MemberId kHobbies = 0x3A43;
inline constexpr MemberId kMiddleName = 0x3A44;
inline constexpr MemberId kProfession = 0x3A46;
inline constexpr MemberId kSpouse = 0x3A48;
inline constexpr MemberId kCustomerId = 0x3A4A;
inline constexpr MemberId kTTYTDDPhoneNumber = 0x3A4B;
inline constexpr MemberId kGender = 0x3A4D;  // int32
inline constexpr MemberId kManagerName = 0x3A4E;
inline constexpr MemberId kNickname = 0x3A4F;
inline constexpr MemberId kPersonalHomePage = 0x3A50;
inline constexpr MemberId kBusinessHomePage = 0x3A51;
inline constexpr MemberId kCompanyMainPhoneNumber = 0x3A57;
inline constexpr MemberId kHomeAddressCity = 0x3A59;
inline constexpr MemberId kHomeAddressCountry = 0x3A5A;
inline constexpr MemberId kHomeAddressPostalCode = 0x3A5B;
inline constexpr MemberId kHomeAddressState = 0x3A5C;
inline constexpr MemberId kHomeAddressStreet = 0x3A5D;
inline constexpr MemberId kOtherAddressCity = 0x3A5F;
inline constexpr MemberId kOtherAddressCountry = 0x3A60;
inline constexpr MemberId kOtherAddressPostalCode = 0x3A61;
inline constexpr MemberId kOtherAddressState = 0x3A62;
inline constexpr MemberId kOtherAddressStreet = 0x3A63;
inline constexpr MemberId kFileAs = 0x8005;
inline constexpr MemberId kBusinessAddress = 0x801B;
inline constexpr MemberId kOtherAddress = 0x801C;
inline constexpr MemberId kBusinessAddressStreet = 0x8045;
inline constexpr MemberId kBusinessAddressCity = 0x8046;
inline constexpr MemberId kBusinessAddressState = 0x8047;
inline constexpr MemberId kBusinessAddressPostalCode = 0x8048;
inline constexpr MemberId kBusinessAddressCountry = 0x8049;
inline constexpr MemberId kEmail1Address = 0x8083;
inline constexpr MemberId kContactText80D8 = 0x80D8;
inline constexpr MemberId kMileage = 0x8534;

// PropertyAccessor, on items, recipients, attachments, folders and storage items, and the
// members a faithful copy needs beside it.
inline constexpr MemberId kPropertyAccessor = 0xFAFD;  // get -> accessor
inline constexpr MemberId kGetProperty = 0xFA0A;       // method (schema name) -> value
inline constexpr MemberId kSetProperty = 0xFA0B;       // method (schema name, value)
inline constexpr MemberId kGetProperties = 0xFA0C;     // method (array of names) -> array of values
inline constexpr MemberId kSetProperties = 0xFA0D;     // method (array of names, array of values) -> array of errors
inline constexpr MemberId kDeleteProperty = 0xFA0E;    // method (schema name)
inline constexpr MemberId kDeleteProperties = 0xFA0F;  // method (array of names) -> array of errors
inline constexpr MemberId kRecipients = 0xF814;        // get -> recipient collection
inline constexpr MemberId kAddRecipient = 0x006F;      // method (name) -> recipient
inline constexpr MemberId kRemove = 0x0054;            // method (int32, 1-based)
inline constexpr MemberId kRecipientType = 0x0C15;     // get, put int32 (1 To, 2 Cc, 3 Bcc)
inline constexpr MemberId kGetStorage = 0xFAC1;        // method (identifier, int32 type) -> storage item

// The mail-import object. Its members are ours to number; they sit apart from every number
// above so a call on the wrong object fails instead of doing something else.
inline constexpr MemberId kSafeItem = 0x6101;    // put item: the Outlook item to wrap
inline constexpr MemberId kImport = 0x6102;      // method (file path or stream, int32 format)
inline constexpr MemberId kSafeFields = 0x6103;  // put (int32 property tag, value); empty removes

// The message store behind a folder, as MAPI offers it beside Outlook's object model: its
// PropertyAccessor (the links to its special folders) and the folder it receives mail in.
// Ours to number, apart from the rest like the import object's.
inline constexpr MemberId kStore = 0x6111;              // get on a folder -> store
inline constexpr MemberId kSetReceiveFolder = 0x6112;  // method (folder) on a store
// What a save needs to own the store it writes: how large its file is getting, what it holds
// for good, what a failed commit cost, and its end.
inline constexpr MemberId kStoreSize = 0x6113;       // get on a store -> int64 bytes its file would have if committed now
inline constexpr MemberId kItemsCommitted = 0x6114;  // get on a store -> int64 messages its last commit put in the file
inline constexpr MemberId kItemsLost = 0x6115;       // get on a store -> int64 messages accepted, then lost to a failed commit
inline constexpr MemberId kCloseStore = 0x6116;      // method on a store: commits and closes its file

// A byte stream handed across in place of a file path (see byte_stream.h).
inline constexpr MemberId kStreamRead = 0x6201;  // method (int32 count) -> bytes; none left: empty bytes
inline constexpr MemberId kStreamSize = 0x6202;  // get -> int64 bytes in all, or empty when unknown

}  // namespace dispid

// Item types of kCreateItem.
inline constexpr std::int32_t kItemAppointment = 1;
inline constexpr std::int32_t kItemContact = 2;
inline constexpr std::int32_t kItemTask = 3;
inline constexpr std::int32_t kItemJournal = 4;
inline constexpr std::int32_t kItemNote = 5;

// Identifier types of kGetStorage: by entry id, by subject, by message class.
inline constexpr std::int32_t kIdentifyByEntryId = 0;
inline constexpr std::int32_t kIdentifyBySubject = 1;
inline constexpr std::int32_t kIdentifyByMessageClass = 2;

// What a property accessor's SetProperties answers for a property it did not set: one the store
// computes itself for every object (MAPI_E_NO_ACCESS), and a value it cannot store
// (MAPI_E_INVALID_PARAMETER).
inline constexpr std::int32_t kAccessorComputed = static_cast<std::int32_t>(0x80070005u);
inline constexpr std::int32_t kAccessorInvalid = static_cast<std::int32_t>(0x80070057u);

// Format of kImport: an RFC 822 message file.
inline constexpr std::int32_t kImportRfc822 = 1024;
// The property the mail writer clears on the import object after each import.
inline constexpr std::int32_t kIconIndexTag = 0x10800003;
// Attachment type of kAddAttachment for an item that becomes an embedded message.
inline constexpr std::int32_t kAttachEmbeddedItem = 5;

}  // namespace salvora
