// A results view that records what the controller tells it, and a backup-browser tree
// that only counts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "results/result_view.h"

class FakeResultView : public ResultView {
 public:
  void setControls(const ResultControls& c) override { controls = c; }
  void setProgress(double fraction, const std::string& text) override {
    progressFraction = fraction;
    progressText = text;
  }
  void setCountLabels(const CountLabels& labels) override { countLabels = labels; }
  void setDeviceInfo(const DeviceInfoLabels& labels) override { deviceInfo = labels; }
  void showCategory(ResultCategory c) override { shownCategory = c; }
  void setTableRows(ResultCategory c, const ResultRows& r) override {
    tableCategory = c;
    rows = r;
  }
  void setHighlightedRows(const std::vector<std::size_t>& r) override { highlighted = r; }
  void redrawTicks() override { ++redraws; }
  int askQuestion(const std::string& message, const std::vector<std::string>& buttons) override {
    questions.push_back(message);
    questionButtons = buttons;
    return answer;
  }
  void clearChatPreview() override { ++chatPreviewClears; }
  void setHexPreviewShown(bool shown) override {
    hexPreviewShown = shown;
    ++hexPreviewSwitches;
  }
  void setHexPreviewText(const std::string& text) override { hexPreviewText = text; }

  ResultControls controls;
  double progressFraction = -1;
  std::string progressText;
  CountLabels countLabels;
  DeviceInfoLabels deviceInfo;
  ResultCategory shownCategory = ResultCategory::BackUpBrowser;
  ResultCategory tableCategory = ResultCategory::BackUpBrowser;
  ResultRows rows;
  std::vector<std::size_t> highlighted;
  int redraws = 0;
  std::vector<std::string> questions;
  std::vector<std::string> questionButtons;
  int answer = 0;
  int chatPreviewClears = 0;
  bool hexPreviewShown = false;
  int hexPreviewSwitches = 0;
  std::string hexPreviewText;
};

class FakeBrowserTree : public BackupBrowserTree {
 public:
  void addTreeNode(const std::shared_ptr<MzTreeDirNode>& record) override {
    added.push_back(record);
  }
  std::size_t getTreeSelectedItemNum() const override { return ticked; }
  void releaseTree() override {
    added.clear();
    ++releases;
  }

  std::vector<std::shared_ptr<MzTreeDirNode>> added;
  std::size_t ticked = 0;
  int releases = 0;
};

// Shorthands for records.
inline std::shared_ptr<MzContactNode> contact(const std::string& name, const std::string& phone) {
  auto c = std::make_shared<MzContactNode>();
  c->contactName = name;
  c->contactPhone = phone;
  return c;
}

inline std::shared_ptr<MzMessageNode> message(const std::string& phone, const std::string& text,
                                              const std::string& date = "01-01-2014 10:00",
                                              const std::string& name = "") {
  auto m = std::make_shared<MzMessageNode>();
  m->messagePhone = phone;
  m->messageContent = text;
  m->messageDate = date;
  m->messageName = name;
  return m;
}

inline std::shared_ptr<MzPhotoAndVideoNode> media(const std::string& name,
                                                  const std::string& size = "1.00K") {
  auto m = std::make_shared<MzPhotoAndVideoNode>();
  m->fileNodeName = name;
  m->fileNodeSize = size;
  return m;
}

inline std::shared_ptr<MzCallHistoryNode> call(const std::string& name, const std::string& phone,
                                               const std::string& date) {
  auto c = std::make_shared<MzCallHistoryNode>();
  c->callName = name;
  c->callPhone = phone;
  c->callDate = date;
  return c;
}
