// The records a scan produces.
//
// Item records are created by a scanner, filled completely, posted once in their
// notification and from then on belong to the results. Working records live in the scan's
// own lists and are never posted. Every member starts at the value a fresh record has:
// texts empty (or none where a text can be absent), flags false, row ids -1.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "extract/record_origin.h"

// One phone number, e-mail address, web address or postal address of a contact, with the
// label the person gave it.
struct MzContactValue {
  enum class Kind { Phone, Email, Url, Address };
  Kind kind = Kind::Phone;
  std::string label;  // "Mobile", "Home", "Work", … for the usual labels, else as typed
  std::string value;  // an address as one readable line: street, postcode city, state, country
  // An address's parts, empty for the other kinds.
  std::string street;
  std::string city;
  std::string state;
  std::string postcode;
  std::string country;
};

// One contact, live or carved from free space.
struct MzContactNode {
  std::int32_t rowid = -1;
  std::string contactName;
  std::string contactPhone;     // every number, each preceded by one blank
  std::string contactEmail;     // every address, each preceded by one blank
  std::string contactHomepage;  // every web address, each preceded by one blank
  std::string contactCompany;   // department, job title and organisation joined by blanks
  std::string contactBirthday;
  std::string contactJobtitle;
  std::string contactNote;
  std::string contactAdress;  // address values, each preceded by one blank
  Bytes imageData;            // the contact's picture, or none
  // The name's parts as the address book keeps them; empty for a carved record.
  std::string firstName;
  std::string middleName;
  std::string lastName;
  std::string namePrefix;
  std::string nameSuffix;
  // The phone, e-mail, web and postal values above one by one with their labels, in the
  // order the strings hold them; a value of the strings may be missing here for a carved
  // record.
  std::vector<MzContactValue> values;
  bool bDeleted = false;  // set by the results when it files a carved record
  bool bSelected = false;
  RecordOrigin origin;  // the address book row, or where the carver found the record
};

// One chat of a current messages database (iOS 8 and later), shared by its messages and
// the conversation they make.
struct MzChatInfo {
  std::int64_t rowId = -1;
  std::string identifier;  // the chat's address, or its room name for a group
  std::string service;     // "SMS", "iMessage", "RCS", …
  std::string name;        // display name, else the participants' names (or addresses) joined
  std::vector<std::string> participants;  // the other parties' addresses
  bool group = false;                     // more than one other party, or a named room
};

// One attachment of a message of a current database.
struct MzMessageAttachment {
  std::string devicePath;                 // as the attachment row names it
  std::optional<std::string> storedPath;  // the stored file; none when not in the backup
  std::string kind;  // "Image", "Mov", "Audio", "Contact", "Location", "PDF" or "File"
  std::string mimeType;
  std::string uti;
  std::string name;  // the name it was sent under, else the path's last component
  bool sticker = false;
};

// A tapback or sticker someone left on a message.
struct MzMessageReaction {
  std::string kind;                        // "Loved", "Liked", "Disliked", "Laughed", "Emphasized",
                                           // "Questioned", "Reacted" (an emoji) or "Sticker"
  std::string emoji;                       // the emoji of "Reacted"
  std::string sender;                      // "Me", or the sender's name or address
  std::string date;                        // MM-DD-YYYY HH:MM
  std::optional<std::string> stickerPath;  // the sticker's stored file
};

// One text or iMessage message.
struct MzMessageNode {
  std::optional<std::string> messageName = std::string();  // none when no contact matches
  std::string messagePhone;
  std::string messageContent;
  std::string messageDate;  // MM-DD-YYYY HH:MM
  std::string messageType;  // "Send", "Received" or "unknown"
  bool bImessage = false;
  bool bSelected = false;
  bool bDeleted = false;
  std::int32_t handle_id = -1;
  bool isHasAttach = false;
  std::optional<std::string> attachmentPath;  // stored file of the attachment
  std::optional<std::string> attachType;      // "Image", "Mov", "Contact" or "Location"
  std::int32_t rowId = -1;
  Bytes contactImageData;
  // Read from current databases (iOS 8 and later) only; older ones leave them as they are.
  std::string service;        // "SMS", "iMessage", "RCS", …; empty when none is named
  std::string readDate;       // MM-DD-YYYY HH:MM; empty when unread or unknown
  std::string deliveredDate;  // MM-DD-YYYY HH:MM; empty when unknown
  std::string sender;         // "Me", or the sender's name or address
  std::shared_ptr<const MzChatInfo> chat;  // the chat it belongs to, when it names one
  std::vector<MzMessageAttachment> attachments;
  std::vector<MzMessageReaction> reactions;
  bool edited = false;
  bool unsent = false;
  std::vector<std::string> previousTexts;  // earlier versions of an edited text, oldest first
  std::optional<std::string> replyTo;      // the text of the message this one answers
  RecordOrigin origin;                     // the message row, or where it was carved
};

// One conversation, made by the results from posted messages.
struct MzMessageTreeNode {
  std::shared_ptr<std::vector<std::shared_ptr<MzMessageNode>>> MessageNodeArray =
      std::make_shared<std::vector<std::shared_ptr<MzMessageNode>>>();
  std::string messageTreeNodeName;
  std::string messageTreeNodeAdress;
  bool bSelected = false;
  bool bdeleted = false;
  std::shared_ptr<const MzChatInfo> chat;  // the chat of a current database, when known
};

// One call.
struct MzCallHistoryNode {
  std::optional<std::string> callName = std::string();  // none when no contact matches
  std::string callPhone;
  std::string callDate;
  std::string callType;  // "Outgoing" or "Incoming"
  std::int32_t callTime = -1;
  std::string callDuration;  // duration text, "Cancelled" or "Missed"
  // How the call was made, read from CallHistory.storedata only: "Phone", "FaceTime Audio",
  // "FaceTime Video", or the bundle id of the app that placed it. Empty for call_history.db.
  std::string callKind;
  bool bSelected = false;
  bool bDeleted = false;
  RecordOrigin origin;
};

// One note. noteDate is the modification date. The folder, account, creation date and the
// locked mark come only from the current Notes store (NoteStore.sqlite); a locked note's
// noteContent stays empty, since its body is encrypted.
// A file a current note holds: a picture, a scan's page, a drawing's fallback image, a
// document.
struct MzNoteAttachment {
  std::string name;                       // the file's name, else the last path component
  std::string uti;                        // the attachment's type, "public.jpeg", ...
  std::optional<std::string> storedPath;  // the stored file; none when not in the backup
};

struct MzNoteNode {
  std::string noteTitle;
  std::string noteContent;
  std::string noteDate;
  std::int32_t uid = -1;
  bool bSelected = false;
  bool bDeleted = false;
  std::string folder;
  std::string account;
  std::string createdDate;
  bool locked = false;
  std::vector<MzNoteAttachment> attachments;  // of the current Notes store only
  RecordOrigin origin;                        // a carved note: where its body was found
};

// One bookmark, reading-list entry or history entry.
struct MzBookMarkNode {
  std::string bookMarkTitle;
  std::string bookMarkURL;
  bool bSelected = false;
  bool bDeleted = false;
  // "History" for the entries of the history database of current devices (History.db),
  // "Reading list" for the reading list's entries, empty for the other bookmarks and the
  // entries of the older history files.
  std::string kind;
  // Read from History.db only.
  std::string lastVisit;  // MM-DD-YYYY HH:MM
  std::int32_t visitCount = -1;
  RecordOrigin origin;  // none for the built-in bookmarks
};

// One calendar event, or one reminder of a device that keeps its reminders in the calendar.
struct MzCalenderNode {
  std::string calTitle;
  std::string calNote;
  std::string location;
  std::string startDate;
  std::string endDate;
  bool bDeleted = false;
  bool bSelected = false;
  // Read from the calendar database of iOS 8 and later only; empty for the older layouts and
  // for carved records.
  std::string kind;          // "Reminder"; empty for events
  std::string calendarName;  // the calendar or reminder list the item is filed in
  bool allDay = false;
  std::vector<std::string> attendees;  // "Name <address>", the name or the address alone
  std::string dueDate;                 // reminders: MM-DD-YYYY HH:MM
  bool completed = false;              // reminders: ticked off
  RecordOrigin origin;
};

// One camera-roll or application photo or video of the backup.
struct MzPhotoAndVideoNode {
  std::string fileNodeName;
  std::string fileNodeSize;
  std::string filePath;  // the stored file in the backup folder, or the local copy of a
                         // device file (the advanced scan of a connected device)
  bool bmov = false;
  bool bSelected = false;
  std::uint64_t fileSizeNumber = 0;
  // Filled for the camera roll of a current backup (one with a photo library database);
  // empty or false for every other record, except devicePath, which the advanced scan of a
  // connected device sets to the file's path on the device ("/DCIM/100APPLE/IMG_0001.JPG").
  std::string devicePath;          // "Media/DCIM/100APPLE/IMG_0001.HEIC", where it came from
  std::string captureDate;         // when it was taken, as other dates are shown
  std::string originalFileName;    // the name it was taken or imported under; names the copy
  std::string renderOf;            // for an edited render: the device path of the original
  bool bLivePhoto = false;         // a still with its movie, recovered side by side
  std::string livePhotoMoviePath;  // the movie's stored file
  std::string livePhotoMovieName;  // its name on the device ("IMG_0007.MOV")
  std::uint64_t livePhotoMovieSize = 0;
  // The folder filePath lies in when it is not the backup's: the local folder of the advanced
  // scan's copies. Readers open the file within this folder instead of the backup folder.
  std::string sourceFolder;
};

// One media file of a social application's domain.
struct MzFaceTwitterNode {
  std::string faceTwitterFileName;
  std::string faceTwitterFilePath;
  std::string fileSize;
  bool bSelected = false;
  std::uint64_t FileSizeNumber = 0;
};

// Working record: one contact picture read before the contacts are built.
struct MzContactImageNode {
  std::int32_t rowid = -1;
  Bytes imageData;
};

// Working record: one row of the attachment join.
struct MzMessageAttachNode {
  std::int32_t messageId = -1;
  std::int32_t attachmentId = -1;
  std::optional<std::string> attachpath;  // device path without its leading "~/"
  std::optional<std::string> attachType;
};

// Working record: one row of the messages database's handle table.
struct MzChatMessageNode {
  std::int32_t rowid = -1;
  std::string phoneValue;
};

// Working record: one piece of note text found in free space.
struct MzNoteValueNode {
  std::string noteValue;
  std::int32_t uid = -1;
  RecordOrigin origin;  // where the body was found
};

// Working record: one multi-value entry found in free space.
struct DelContactValue {
  std::string contactValue;
  std::int32_t valueType = -1;  // 3 phone, 4 e-mail, 5 address, 22 web address
  std::int32_t rowID = -1;
  bool bHasFind = false;
  RecordOrigin origin;  // where the value was found
};
