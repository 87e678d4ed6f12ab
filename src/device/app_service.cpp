#include "device/app_service.h"

#include <cstdio>
#include <cstdlib>

namespace amd {

AppService::~AppService() { files_.reset(); }

plist_t AppService::lookupOptions() {
  static const plist_t options = [] {
    plist_t attributes = plist_new_array();
    for (const char* name : {"CFBundleIdentifier", "ApplicationDSID", "ApplicationType",
                             "CFBundleExecutable", "CFBundleDisplayName", "CFBundleIconFile",
                             "CFBundleName", "CFBundleShortVersionString", "CFBundleVersion"})
      plist_array_append_item(attributes, plist_new_string(name));
    plist_t dictionary = plist_new_dict();
    plist_dict_set_item(dictionary, "ReturnAttributes", attributes);
    return dictionary;
  }();
  return options;
}

int AppService::open(int position) {
  if (const int code = BaseService::open(position); code != 0) return code;
  if (const int code = startService("com.apple.mobile.installation_proxy"); code != 0) return code;
  files_ = std::make_unique<AfcService>(manager());
  return files_->open(position);
}

bool AppService::fetchApplications() {
  if (applications_) return true;
  PlistPtr fetched;
  const int code = runOperation(
      [&] { return backend().lookupApplications(deviceHandle(), lookupOptions(), &fetched); });
  if (code != 0 || !fetched || plist_get_node_type(fetched.get()) != PLIST_DICT) return false;
  applications_ = std::move(fetched);
  count_ = static_cast<std::int64_t>(plist_dict_get_size(applications_.get()));
  std::printf("App list count = %ld\n", static_cast<long>(count_));
  std::fflush(stdout);
  keys_.clear();
  values_.clear();
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(applications_.get(), &it);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(applications_.get(), it, &key, &value);
    if (key == nullptr) break;
    keys_.emplace_back(key);
    values_.push_back(value);
    std::free(key);
  }
  std::free(it);
  return true;
}

std::vector<std::string> AppService::applicationIdentifiers() {
  if (!fetchApplications()) return {};
  return keys_;
}

PlistPtr AppService::applicationValue(const std::string& identifier, const std::string& attribute) {
  if (!fetchApplications()) return nullptr;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] != identifier) continue;
    plist_t value = plist_get_node_type(values_[i]) == PLIST_DICT
                        ? plist_dict_get_item(values_[i], attribute.c_str())
                        : nullptr;
    return value == nullptr ? nullptr : PlistPtr(plist_copy(value));
  }
  return nullptr;
}

}  // namespace amd
