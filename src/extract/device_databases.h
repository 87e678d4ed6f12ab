// The device databases a scan reads, by the file keys under which backups store them.
#pragma once

#include <string>

namespace devicedb {

inline constexpr const char* kContactsKey = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
inline constexpr const char* kContactPicturesKey = "cd6702cea29fe89cf280a76794405adb17f9a0ee";
inline constexpr const char* kMessagesKey = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
inline constexpr const char* kCallsKey = "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca";
inline constexpr const char* kCallsSecondKey = "ff1324e6b949111b2fb449ecddb50c89c3699a78";
inline constexpr const char* kCallStoreKey = "5a4935c78a5255723f707230a451d79c540d2741";
inline constexpr const char* kNotesKey = "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c";
inline constexpr const char* kNotesSecondKey = "740b7eaf93d6ea5d305e88bb349c8e9643f48c3b";
inline constexpr const char* kBookmarksKey = "d1f062e2da26192a6625d968274bfda8d07821e4";
inline constexpr const char* kBookmarksSecondKey = "04cc352fd9943f7c0c3f0781d4834fa137775761";
inline constexpr const char* kHistoryKey = "1d6740792a2b845f4c1e6220c43906d7f0afe8ab";
inline constexpr const char* kCalendarKey = "2041457d5fe04d39d0ab481178355df6781e6858";
inline constexpr const char* kPhotoLibraryKey = "12b144c0bd44f2b3dffd9186d3f9c05b917cee25";

// A device file: its domain and path (which give its key and the key of its log).
struct DeviceFile {
  const char* domain;
  const char* path;
};

inline constexpr DeviceFile kContacts{"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"};
inline constexpr DeviceFile kContactPictures{"HomeDomain",
                                             "Library/AddressBook/AddressBookImages.sqlitedb"};
inline constexpr DeviceFile kMessages{"HomeDomain", "Library/SMS/sms.db"};
inline constexpr DeviceFile kCalls{"WirelessDomain", "Library/CallHistory/call_history.db"};
inline constexpr DeviceFile kCallsSecond{"HomeDomain", "Library/CallHistory/call_history.db"};
inline constexpr DeviceFile kCallStore{"HomeDomain", "Library/CallHistoryDB/CallHistory.storedata"};
inline constexpr DeviceFile kNotes{"HomeDomain", "Library/Notes/notes.sqlite"};
inline constexpr DeviceFile kNotesSecond{"HomeDomain", "Library/Notes/notes.db"};
// The current Notes store (iOS 9 and later), in the Notes app's group container.
inline constexpr DeviceFile kNoteStore{"AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite"};
inline constexpr DeviceFile kBookmarks{"HomeDomain", "Library/Safari/Bookmarks.db"};
inline constexpr DeviceFile kCalendar{"HomeDomain", "Library/Calendar/Calendar.sqlitedb"};
// The photo library of the camera roll (capture dates, original names, Live Photos).
inline constexpr DeviceFile kPhotoLibrary{"CameraRollDomain", "Media/PhotoData/Photos.sqlite"};

// The file key of the write-ahead log that belongs to a device database: the key of its
// device path with "-wal" appended.
std::string walKeyFor(const DeviceFile& file);

// The device file as the user knows it: "DOMAIN-PATH".
inline std::string deviceFileName(const DeviceFile& file) {
  return std::string(file.domain) + "-" + file.path;
}

}  // namespace devicedb
