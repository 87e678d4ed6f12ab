#include "cloud/cloud_script_bridge.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <lua.hpp>

#include "base/log.h"
#include "base/paths.h"

namespace cloud {

// What one method call needs and gives. Plain data only: the function that fills it runs
// inside Lua's protected call, which unwinds by longjmp on an error.
struct CloudScriptBridge::MethodCall {
  enum class Result { Boolean, Text, Integer, None };
  const char* method = nullptr;
  const char* texts[2] = {nullptr, nullptr};
  int textCount = 0;
  bool hasInteger = false;  // an integer argument after the texts
  lua_Integer integer = 0;
  bool pushProgress = false;  // the Lua-side progress function as the last argument
  Result result = Result::None;
  // Results.
  bool boolean = false;
  lua_Integer number = 0;
  const char* text = nullptr;  // valid until the stack is emptied
  std::size_t textLength = 0;
  std::string* textOut = nullptr;
};

namespace {

// The progress function of the download under way; read by the Lua-side progress function.
std::atomic<ProgressFunction> currentProgress{nullptr};

// The Lua-side progress function: (text, integer, integer) -> integer, the native progress
// function's answer, 0 when none is set.
int luaProgress(lua_State* L) {
  const char* name = lua_tostring(L, 1);
  const lua_Integer done = lua_tointeger(L, 2);
  const lua_Integer total = lua_tointeger(L, 3);
  std::int32_t answer = 0;
  if (ProgressFunction progress = currentProgress.load()) {
    // Nothing may unwind through the interpreter's frames: an observer's failure is dropped.
    try {
      answer = progress(name ? name : "", done, total);
    } catch (...) {
      answer = 0;
    }
  }
  lua_pushinteger(L, answer);
  return 1;
}

// Runs inside lua_cpcall: obj:<method>(arguments), one result read into the call.
int methodTrampoline(lua_State* L) {
  auto* call = static_cast<CloudScriptBridge::MethodCall*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  lua_getglobal(L, "obj");
  lua_getfield(L, -1, call->method);
  lua_pushvalue(L, -2);  // obj as the first argument
  int arguments = 1;
  for (int i = 0; i < call->textCount; ++i, ++arguments) lua_pushstring(L, call->texts[i]);
  if (call->hasInteger) {
    lua_pushinteger(L, call->integer);
    ++arguments;
  }
  if (call->pushProgress) {
    lua_pushcclosure(L, luaProgress, 0);
    ++arguments;
  }
  lua_call(L, arguments, 1);
  switch (call->result) {
    case CloudScriptBridge::MethodCall::Result::Boolean:
      call->boolean = lua_toboolean(L, -1) != 0;
      break;
    case CloudScriptBridge::MethodCall::Result::Integer:
      call->number = lua_tointeger(L, -1);
      break;
    case CloudScriptBridge::MethodCall::Result::Text:
      call->text = lua_tolstring(L, -1, &call->textLength);
      // Copied here, while the text is still on the stack; nothing after this can raise.
      if (call->text && call->textOut) call->textOut->assign(call->text, call->textLength);
      break;
    case CloudScriptBridge::MethodCall::Result::None:
      break;
  }
  return 0;
}

int openLibraries(lua_State* L) {
  luaL_openlibs(L);
  return 0;
}

// Runs inside lua_cpcall: obj = ZKiCloud_new().
int constructObject(lua_State* L) {
  lua_settop(L, 0);
  lua_getglobal(L, "ZKiCloud_new");
  lua_call(L, 0, 1);
  lua_setglobal(L, "obj");
  return 0;
}

std::string stackText(lua_State* L) {
  const char* text = lua_tostring(L, -1);
  return text ? text : "(no error text)";
}

void printLine(const std::string& text) {
  std::fprintf(stdout, "%s\n", text.c_str());
  std::fflush(stdout);
}

}  // namespace

CloudScriptBridge& CloudScriptBridge::shared() {
  static CloudScriptBridge bridge;
  return bridge;
}

CloudScriptBridge::~CloudScriptBridge() { close(); }

void CloudScriptBridge::setModuleFile(std::string path) {
  std::lock_guard lock(mutex_);
  moduleFile_ = std::move(path);
}

std::string CloudScriptBridge::moduleFile() const {
  std::lock_guard lock(mutex_);
  return moduleFile_;
}

std::int32_t CloudScriptBridge::start() {
  std::lock_guard lock(mutex_);
  const std::string module = moduleFile_.empty() ? moduleResourcePath() : moduleFile_;
  // Native parts of the module are searched beside it, and nowhere else.
  std::string folder = std::filesystem::path(module).parent_path().string();
  if (folder.empty()) folder = ".";
  ::setenv("LUA_CPATH", (folder + "/?.so").c_str(), 1);

  closeLocked();
  state_ = luaL_newstate();
  if (!state_) {
    applog::line("初始化失败");
    return 1;
  }
  hasState_ = true;
  if (lua_cpcall(state_, openLibraries, nullptr) != 0) {
    printLine(stackText(state_));
    closeLocked();
    applog::line("初始化失败");
    return 1;
  }
  // A file that does not load leaves its error text where the chunk would be; running that
  // fails below, as it should.
  if (luaL_loadfile(state_, module.c_str()) != 0) printLine(stackText(state_));
  if (lua_pcall(state_, 0, 0, 0) != 0) {
    printLine(stackText(state_));
    closeLocked();
    applog::line("初始化失败");
    return 1;
  }
  if (lua_cpcall(state_, constructObject, nullptr) != 0) {
    printLine(stackText(state_));
    // Without the object no method can run; the interpreter goes with it.
    closeLocked();
    applog::line("初始化失败");
    return 1;
  }
  lua_settop(state_, 0);
  return 0;
}

int CloudScriptBridge::callMethod(MethodCall& call) {
  const int code = lua_cpcall(state_, methodTrampoline, &call);
  if (code != 0) {
    call.text = nullptr;
    applog::line("lua_pcall " + std::to_string(code));
  }
  lua_settop(state_, 0);  // the result or the error text is dropped
  return code;
}

std::int32_t CloudScriptBridge::authroize(const std::string& account, const std::string& password) {
  std::lock_guard lock(mutex_);
  if (!state_) return -1;
  MethodCall call;
  call.method = "authroize";
  call.texts[0] = account.c_str();
  call.texts[1] = password.c_str();
  call.textCount = 2;
  call.result = MethodCall::Result::Boolean;
  if (callMethod(call) != 0) return -1;
  applog::line(call.boolean ? "登陆成功" : "登陆失败");
  return call.boolean ? 0 : 1;
}

std::int32_t CloudScriptBridge::query(std::string& listJson) {
  std::lock_guard lock(mutex_);
  listJson.clear();
  if (!state_) return -1;
  MethodCall call;
  call.method = "query";
  call.result = MethodCall::Result::Text;
  call.textOut = &listJson;
  if (callMethod(call) != 0) return -1;
  if (!call.text) {
    applog::line("查询失败");
    return 1;
  }
  return 0;
}

std::int32_t CloudScriptBridge::geturls(const std::string& serial, std::int32_t number,
                                        std::int64_t* fileCount) {
  std::lock_guard lock(mutex_);
  if (!state_) return -1;
  applog::line("获取 " + serial + " 的第 " + std::to_string(number) + " 个备份...");
  MethodCall call;
  call.method = "geturls";
  call.texts[0] = serial.c_str();
  call.textCount = 1;
  call.hasInteger = true;
  call.integer = number;
  call.result = MethodCall::Result::Integer;
  if (callMethod(call) != 0) return -1;
  applog::line("获取成功，共" + std::to_string(call.number) + "个文件");
  if (fileCount) *fileCount = call.number;
  return 0;
}

std::int32_t CloudScriptBridge::download(const std::string& folder, ProgressFunction progress) {
  std::lock_guard lock(mutex_);
  if (!state_) return -1;
  applog::line("下载数据...");
  currentProgress = progress;
  MethodCall call;
  call.method = "download";
  call.texts[0] = folder.c_str();
  call.textCount = 1;
  call.pushProgress = true;
  const int code = callMethod(call);
  currentProgress = nullptr;
  if (code != 0) return -1;
  applog::line("下载完成");
  return 0;
}

void CloudScriptBridge::close() {
  std::lock_guard lock(mutex_);
  closeLocked();
}

void CloudScriptBridge::closeLocked() {
  if (state_) lua_close(state_);
  state_ = nullptr;
  hasState_ = false;
}

bool CloudScriptBridge::hasInterpreter() const { return hasState_.load(); }

std::string moduleResourcePath() {
  const char* fromEnvironment = std::getenv("RETRIEVO_CLOUD_MODULE");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  const std::string programFolder = paths::runningProgramFolder();
  if (!programFolder.empty()) {
    const std::string beside = programFolder + "/crypto.so";
    std::error_code error;
    if (std::filesystem::is_regular_file(beside, error)) return beside;
  }
  return std::string(RETRIEVO_INSTALL_DATADIR) + "/retrievo/crypto.so";
}

}  // namespace cloud
