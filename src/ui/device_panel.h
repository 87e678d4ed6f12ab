// The device source's panel while a device is attached: the device's name, model, OS version
// and phone number, and the button that starts its scan (a fresh backup of the device, then
// the ordinary scan of that backup).
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <string>

class MzButton;
class NotificationCenter;

class DevicePanel : public QWidget {
  Q_OBJECT

 public:
  DevicePanel(NotificationCenter& nc, QWidget* parent = nullptr);

  // Shows what is known of the attached device; an empty value shows as "Unknown".
  void showDevice(const std::string& name, const std::string& model, const std::string& version,
                  const std::string& phoneNumber);

  // The scan button ("StartScan_Norm.png"); its presses reach the window as every
  // MzButton's do.
  MzButton* startScanButton() const { return startScanBtn_; }

 private:
  QLabel* name_ = nullptr;
  QLabel* model_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* phone_ = nullptr;
  MzButton* startScanBtn_ = nullptr;
};
