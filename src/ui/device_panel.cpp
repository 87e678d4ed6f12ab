#include "ui/device_panel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/mz_button.h"

namespace {

QString shown(const std::string& value) {
  return value.empty() ? DevicePanel::tr("Unknown") : QString::fromStdString(value);
}

}  // namespace

DevicePanel::DevicePanel(NotificationCenter& nc, QWidget* parent) : QWidget(parent) {
  setAccessibleName(tr("Device connected"));
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(tr("Your device is connected"), this);
  QFont font = title->font();
  font.setPointSizeF(font.pointSizeF() * 1.3);
  font.setBold(true);
  title->setFont(font);
  layout->addWidget(title);

  auto* facts = new QFormLayout;
  name_ = new QLabel(this);
  model_ = new QLabel(this);
  version_ = new QLabel(this);
  phone_ = new QLabel(this);
  for (QLabel* label : {name_, model_, version_, phone_}) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  facts->addRow(tr("Name:"), name_);
  facts->addRow(tr("Model:"), model_);
  facts->addRow(tr("iOS version:"), version_);
  facts->addRow(tr("Phone number:"), phone_);
  layout->addLayout(facts);

  auto* note = new QLabel(tr("The scan first makes a fresh backup of the device, then reads it. "
                             "Keep the device connected and unlocked until the backup ends."),
                          this);
  note->setWordWrap(true);
  layout->addSpacing(6);
  layout->addWidget(note);
  layout->addSpacing(6);

  auto* row = new QHBoxLayout;
  startScanBtn_ = new MzButton(nc, tr("Scan the device"), QSize(150, 40), this);
  startScanBtn_->setImage("StartScan_Norm.png");
  row->addWidget(startScanBtn_);
  row->addStretch(1);
  layout->addLayout(row);
  layout->addStretch(1);
}

void DevicePanel::showDevice(const std::string& name, const std::string& model,
                             const std::string& version, const std::string& phoneNumber) {
  name_->setText(shown(name));
  model_->setText(shown(model));
  version_->setText(shown(version));
  phone_->setText(shown(phoneNumber));
}
