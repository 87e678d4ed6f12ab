#include "device/base_service.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device/device_operation.h"

namespace amd {
namespace {

// Receives exactly `size` bytes; false when the connection fails or ends first.
bool receiveAll(DeviceBackend& backend, ServiceConnection service, std::uint8_t* buffer,
                std::size_t size) {
  while (size > 0) {
    std::size_t got = 0;
    if (backend.receive(service, buffer, size, &got) != 0 || got == 0 || got > size) return false;
    buffer += got;
    size -= got;
  }
  return true;
}

bool sendAll(DeviceBackend& backend, ServiceConnection service, const std::uint8_t* data,
             std::size_t size) {
  std::size_t sent = 0;
  return backend.send(service, data, size, &sent) == 0 && sent == size;
}

}  // namespace

BaseService::BaseService(DeviceManager& manager) : manager_(manager) {}

BaseService::~BaseService() { closeService(); }

int BaseService::open(int position) {
  const auto device = manager_.deviceAt(position);
  if (!device) {
    std::printf("* Invalid device init\n");
    std::fflush(stdout);
    return 1;
  }
  position_ = position;
  device_ = std::make_unique<BaseDevice>(*device);
  return 0;
}

int BaseService::startService(const std::string& name) {
  ServiceConnection started = 0;
  const int code =
      runOperation([&] { return backend().startService(deviceHandle(), name, &started); });
  if (code == 0) adoptServiceConnection(started);
  return code;
}

int BaseService::sendMessage(plist_t propertyList) {
  if (service_ == 0 || propertyList == nullptr) return 1;
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(propertyList, &xml, &length);
  if (xml == nullptr) return 1;
  const std::array<std::uint8_t, 4> prefix{
      static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
      static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
  const bool sent = sendAll(backend(), service_, prefix.data(), prefix.size()) &&
                    sendAll(backend(), service_, reinterpret_cast<std::uint8_t*>(xml), length);
  std::free(xml);
  return sent ? 0 : 1;
}

PlistPtr BaseService::receiveMessage() {
  if (service_ == 0) return nullptr;
  std::array<std::uint8_t, 4> prefix{};
  if (!receiveAll(backend(), service_, prefix.data(), prefix.size())) return nullptr;
  const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) | (std::uint32_t{prefix[1]} << 16) |
                               (std::uint32_t{prefix[2]} << 8) | prefix[3];
  if (length == 0 || length > kMaxMessage) return nullptr;
  std::vector<std::uint8_t> body(length);
  if (!receiveAll(backend(), service_, body.data(), body.size())) return nullptr;
  plist_t parsed = nullptr;
  plist_from_xml(reinterpret_cast<const char*>(body.data()), length, &parsed);
  return PlistPtr(parsed);
}

int BaseService::runOperation(const std::function<int()>& work) {
  return runDeviceOperation(backend(), deviceHandle(), work);
}

void BaseService::adoptServiceConnection(ServiceConnection service) {
  closeService();
  service_ = service;
}

void BaseService::closeService() {
  if (service_ != 0) backend().closeService(service_);
  service_ = 0;
}

}  // namespace amd
