// The text collector of the text exports: one growing UTF-8 text, written as one file per
// category (despite its name it writes plain text, not RTF).
#pragma once

#include <string>
#include <string_view>

class MzRtfController {
 public:
  std::string strRtfContent;

  // Starts an empty text.
  void setRtfHeader() { strRtfContent.clear(); }
  // Appends one record and "\n\n".
  void addRtfContent(std::string_view record);
  // Nothing to close in plain text.
  void setRtfEnder() {}

  // Writes the text atomically as UTF-8 to FOLDER/TXT.txt, then renames it by `type` (see
  // finalFileName); when that name already exists (an earlier recovery into the same
  // folder) the text stays in TXT.txt and nothing is replaced. 0 when the text was written,
  // else the errno value of the failed write.
  int writeRtfInPath(const std::string& folder, const std::string& type);

  // The final file name of a type: "Contact" Contacts.txt, "Message" Messages.txt,
  // "Callhistory" Call History.txt, "Note" Notes.txt, "BookMark" BookMark.txt,
  // "Calendar&Reminder" Calendar&Reminder.txt; another type (compared exactly) keeps
  // TXT.txt.
  static std::string finalFileName(const std::string& type);
};
