// Fuzz target: the cloud backup list (parse, then records) and the download record reader.
//
// The first input byte chooses the reader: even bytes give the rest to parseCloudBackupList
// and, when it gives a list, to addDeviceNodeByDictionary; odd bytes give it to the download
// record reader, inside "<plist>...</plist>" when the byte is 1 mod 4. Besides memory errors,
// stack exhaustion and hangs, the target traps when the list parser breaks a promise: a list
// and a reason at once (or neither), or a list that is not an array.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "cloud/cloud_device_controller.h"
#include "cloud/download_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    std::string why;
    const auto list = parseCloudBackupList(rest, &why);
    if (list.has_value() == !why.empty()) __builtin_trap();
    if (list) {
      if (!list->is_array()) __builtin_trap();
      MzICloudDeviceController controller;
      controller.addDeviceNodeByDictionary(&*list);
    }
  } else {
    const std::string bytes = data[0] % 4 == 1 ? "<plist>" + rest + "</plist>" : rest;
    cloud::parseDownloadRecord(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  return 0;
}
