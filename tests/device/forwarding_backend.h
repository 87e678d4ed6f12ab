// Test backends that change one thing of another backend (the simulated one): every call goes
// to it, and each file connection it opens is handed to `wrapFiles`, which may wrap it in a
// ForwardingFiles that changes what a test needs (a failing read, extra names in listings).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/device_backend.h"

namespace devicetest {

class ForwardingFiles : public amd::FileConnection {
 public:
  explicit ForwardingFiles(std::unique_ptr<amd::FileConnection> inner) : inner_(std::move(inner)) {}
  int readDirectory(const std::string& p, std::vector<std::string>* names) override {
    return inner_->readDirectory(p, names);
  }
  int fileInfo(const std::string& p, std::map<std::string, std::string>* i) override {
    return inner_->fileInfo(p, i);
  }
  int openFile(const std::string& p, amd::FileMode m, FileHandle* f) override {
    return inner_->openFile(p, m, f);
  }
  int readFile(FileHandle f, std::uint8_t* b, std::size_t n, std::size_t* got) override {
    return inner_->readFile(f, b, n, got);
  }
  int writeFile(FileHandle f, const std::uint8_t* d, std::size_t n) override {
    return inner_->writeFile(f, d, n);
  }
  int closeFile(FileHandle f) override { return inner_->closeFile(f); }
  int removePath(const std::string& p) override { return inner_->removePath(p); }
  int makeDirectory(const std::string& p) override { return inner_->makeDirectory(p); }
  int renamePath(const std::string& a, const std::string& b) override {
    return inner_->renamePath(a, b);
  }

 private:
  std::unique_ptr<amd::FileConnection> inner_;
};

class ForwardingBackend final : public amd::DeviceBackend {
 public:
  using WrapFiles =
      std::function<std::unique_ptr<amd::FileConnection>(std::unique_ptr<amd::FileConnection>)>;

  ForwardingBackend(std::unique_ptr<amd::DeviceBackend> inner, WrapFiles wrapFiles)
      : inner_(std::move(inner)), wrapFiles_(std::move(wrapFiles)) {}

  std::string name() const override { return inner_->name(); }
  int subscribe(EventCallback c) override { return inner_->subscribe(std::move(c)); }
  int unsubscribe() override { return inner_->unsubscribe(); }
  std::optional<std::string> unavailableReason() const override {
    return inner_->unavailableReason();
  }
  int connect(amd::DeviceHandle d) override { return inner_->connect(d); }
  int validatePairing(amd::DeviceHandle d) override { return inner_->validatePairing(d); }
  int pair(amd::DeviceHandle d) override { return inner_->pair(d); }
  bool isPaired(amd::DeviceHandle d) override { return inner_->isPaired(d); }
  int startSession(amd::DeviceHandle d) override { return inner_->startSession(d); }
  int stopSession(amd::DeviceHandle d) override { return inner_->stopSession(d); }
  int disconnect(amd::DeviceHandle d) override { return inner_->disconnect(d); }
  amd::PlistPtr copyValue(amd::DeviceHandle d, const std::optional<std::string>& domain,
                          const std::optional<std::string>& key) override {
    return inner_->copyValue(d, domain, key);
  }
  int startService(amd::DeviceHandle d, const std::string& n, amd::ServiceConnection* s) override {
    return inner_->startService(d, n, s);
  }
  int startHouseArrest(amd::DeviceHandle d, const std::string& id,
                       amd::ServiceConnection* s) override {
    return inner_->startHouseArrest(d, id, s);
  }
  int lookupApplications(amd::DeviceHandle d, plist_t o, amd::PlistPtr* a) override {
    return inner_->lookupApplications(d, o, a);
  }
  std::unique_ptr<amd::FileConnection> openFileConnection(amd::ServiceConnection s) override {
    auto files = inner_->openFileConnection(s);
    return files ? wrapFiles_(std::move(files)) : nullptr;
  }
  int send(amd::ServiceConnection s, const std::uint8_t* d, std::size_t n,
           std::size_t* o) override {
    return inner_->send(s, d, n, o);
  }
  int receive(amd::ServiceConnection s, std::uint8_t* b, std::size_t n, std::size_t* o) override {
    return inner_->receive(s, b, n, o);
  }
  void closeService(amd::ServiceConnection s) override { inner_->closeService(s); }

 private:
  std::unique_ptr<amd::DeviceBackend> inner_;
  WrapFiles wrapFiles_;
};

}  // namespace devicetest
