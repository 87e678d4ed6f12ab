// The installed applications of a device, through the installation service.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/afc_service.h"

namespace amd {

class AppService : public BaseService {
 public:
  using BaseService::BaseService;
  ~AppService() override;

  // Selects the device, starts "com.apple.mobile.installation_proxy", then opens an inner
  // media file service on the same device: 0, or the first failure's code.
  int open(int position) override;

  // The bundle identifiers of the installed applications. The application list is fetched
  // once (in a device operation, printing "App list count = %ld\n") and cached; empty when
  // it cannot be fetched.
  std::vector<std::string> applicationIdentifiers();

  // The attribute `attribute` ("CFBundleDisplayName", "CFBundleVersion", ...) of the
  // application `identifier`, copied; null when the application or attribute is unknown.
  PlistPtr applicationValue(const std::string& identifier, const std::string& attribute);

  // The attributes asked of the device for each application.
  static plist_t lookupOptions();

 private:
  // Fetches the application list unless it is cached: true when it is there.
  bool fetchApplications();

  std::unique_ptr<AfcService> files_;
  PlistPtr applications_;
  std::vector<std::string> keys_;
  std::vector<plist_t> values_;  // owned by applications_
  std::int64_t count_ = 0;
};

}  // namespace amd
