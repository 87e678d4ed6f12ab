// The bridge to the cloud script module: one Lua 5.1 interpreter per process that loads the
// module, makes its object and calls its four methods (sign in, list backups, prepare a
// backup's file list, download).
//
// Every call into Lua is a protected call: an error raised by the module is logged as
// "lua_pcall %d" with the code and comes back as -1; nothing propagates into C++. Calls may
// come from different threads one after another; they are serialised, and close() waits for a
// call under way. A call made while there is no interpreter gives -1.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

struct lua_State;

namespace cloud {

// The native progress function a download reports through:
// (file name, done, total) -> 0 to go on, 1 to stop.
using ProgressFunction = std::int32_t (*)(const char* fileName, std::int64_t done,
                                          std::int64_t total);

class CloudScriptBridge {
 public:
  // The process-wide bridge.
  static CloudScriptBridge& shared();

  CloudScriptBridge() = default;
  ~CloudScriptBridge();
  CloudScriptBridge(const CloudScriptBridge&) = delete;
  CloudScriptBridge& operator=(const CloudScriptBridge&) = delete;

  // The module file start() loads (by default moduleResourcePath()).
  void setModuleFile(std::string path);
  std::string moduleFile() const;

  // Sets LUA_CPATH to "<module folder>/?.so" (overwriting it), makes a new interpreter
  // (closing an earlier one), opens the standard libraries, loads the module file and runs
  // it, then calls "ZKiCloud_new" and keeps its result as the global "obj". A load failure
  // prints the error text to stdout and runs what was loaded, which then fails. When running
  // the chunk fails: prints the error, closes the interpreter, logs "初始化失败", gives 1.
  // When the constructor fails: logs "初始化失败", gives 1. 0 when both ran.
  std::int32_t start();

  // obj:authroize(account, password): 0 for true ("登陆成功"), 1 otherwise ("登陆失败").
  std::int32_t authroize(const std::string& account, const std::string& password);

  // obj:query(): 0 with the text in `listJson` when the module returned one, 1 ("查询失败")
  // when it did not. The text is not parsed here (see parseCloudBackupList).
  std::int32_t query(std::string& listJson);

  // obj:geturls(serial, number): logs "获取 %s 的第 %d 个备份..." before the call and
  // "获取成功，共%ld个文件" with the module's file count after it; the count goes to
  // `fileCount` when given. 0.
  std::int32_t geturls(const std::string& serial, std::int32_t number,
                       std::int64_t* fileCount = nullptr);

  // obj:download(folder, progress): logs "下载数据..." before and "下载完成" after the call.
  // The module calls the Lua-side progress function, which calls `progress` (or answers 0
  // when it is null). 0.
  std::int32_t download(const std::string& folder, ProgressFunction progress);

  // Closes the interpreter when there is one, after any call under way has returned.
  void close();
  bool hasInterpreter() const;

 // The arguments and result of one method call (defined and used by the bridge alone).
  struct MethodCall;

 private:
  // Runs obj:<method>(...) as one protected call and reads its one result; the stack is left
  // empty. 0, or the protected call's code after logging "lua_pcall %d". Needs mutex_ held.
  int callMethod(MethodCall& call);
  void closeLocked();

  mutable std::mutex mutex_;
  std::string moduleFile_;
  lua_State* state_ = nullptr;
  std::atomic<bool> hasState_{false};
};

// Where the module file is: $RETRIEVO_CLOUD_MODULE when set and not empty, else "crypto.so"
// beside the running program when it is there, else <install prefix>/share/retrievo/crypto.so.
std::string moduleResourcePath();

}  // namespace cloud
