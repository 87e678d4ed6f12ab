// The text collector of the text exports: one growing UTF-8 text, written as one file per
// category (despite its name it writes plain text, not RTF).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "results/output_folder.h"

class MzRtfController {
 public:
  std::string strRtfContent;

  // Starts an empty text.
  void setRtfHeader() { strRtfContent.clear(); }
  // Appends one record and "\n\n".
  void addRtfContent(std::string_view record);
  // Nothing to close in plain text.
  void setRtfEnder() {}

  // Writes the text atomically as UTF-8 into a new file of `folder` named by `type` (see
  // finalFileName); when that name is taken (an earlier recovery into the same folder, a
  // file of the user's) the next free candidate of output_names.h with index 0 is used
  // ("0_Notes.txt", "0_2_Notes.txt", ...). Nothing is replaced, and nothing is left behind
  // when the write fails. Returns the path written, or none with `*error` set.
  std::optional<std::string> writeRtfInPath(const OutputDir& folder, const std::string& type,
                                            int* error);

  // The final file name of a type: "Contact" Contacts.txt, "Message" Messages.txt,
  // "Callhistory" Call History.txt, "Note" Notes.txt, "BookMark" BookMark.txt,
  // "Calendar&Reminder" Calendar&Reminder.txt; another type (compared exactly) TXT.txt.
  static std::string finalFileName(const std::string& type);
};
