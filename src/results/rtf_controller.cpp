#include "results/rtf_controller.h"

#include <array>
#include <utility>

#include "results/file_copy.h"

namespace {

constexpr const char* kCollectedName = "TXT.txt";

constexpr std::array<std::pair<const char*, const char*>, 6> kRenameTable = {{
    {"Contact", "Contacts.txt"},
    {"Message", "Messages.txt"},
    {"Callhistory", "Call History.txt"},
    {"Note", "Notes.txt"},
    {"BookMark", "BookMark.txt"},
    {"Calendar&Reminder", "Calendar&Reminder.txt"},
}};

}  // namespace

void MzRtfController::addRtfContent(std::string_view record) {
  strRtfContent.append(record);
  strRtfContent += "\n\n";
}

std::string MzRtfController::finalFileName(const std::string& type) {
  for (const auto& [t, name] : kRenameTable) {
    if (type == t) return name;
  }
  return kCollectedName;
}

std::optional<std::string> MzRtfController::writeRtfInPath(const OutputDir& folder,
                                                           const std::string& type, int* error) {
  return writeNewFileAtomically(folder, finalFileName(type), 0, strRtfContent, error);
}
