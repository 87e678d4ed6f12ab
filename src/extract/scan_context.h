// What every step of a scan reads and writes: the backup folder, the notification centre it
// posts through, the scan's shared lists, the databases prepared so far, and the OS flags
// that choose SQL texts and record layouts.
#pragma once

#include <cstdint>
#include <string>

#include "base/notification_center.h"
#include "extract/database_preparation.h"
#include "extract/scan_lists.h"

struct ScanContext {
  std::string backupFolder;
  NotificationCenter& nc;
  ScanLists& lists;
  DatabasePreparer& databases;
  bool currentNodeIsiOS6Version = false;
  bool bIOS7DeviceNode = false;
  bool bIOSRecoveryMode = false;

  void postProgress(std::int32_t percent) const { nc.post("ScanProgressInfo", percent); }
};
