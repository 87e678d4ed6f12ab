#include "results/tree_controller.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "base/conversions.h"

namespace {

using DirList = std::vector<std::shared_ptr<MzTreeDirNode>>;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The end of the run of digits that starts at `i`.
std::size_t digitRunEnd(std::string_view s, std::size_t i) {
  while (i < s.size() && isDigit(s[i])) ++i;
  return i;
}

// Every "/." replaced by "/", left to right, a replaced text not looked at again.
std::string replaceSlashDot(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    out += path[i];
    if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '.') ++i;
  }
  return out;
}

// Appends the non-empty components of `path` to `out`.
void splitComponents(std::string_view path, std::vector<std::string_view>& out) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
}

std::string_view withoutLeadingDot(std::string_view domain) {
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  return domain;
}

// The first directory of the sorted `level` that does not sort before `name`.
DirList::const_iterator lowerBound(const DirList& level, std::string_view name) {
  return std::lower_bound(level.begin(), level.end(), name,
                          [](const std::shared_ptr<MzTreeDirNode>& node, std::string_view n) {
                            return compareTreeNames(node->fileName, n) < 0;
                          });
}

MzTreeDirNode* findChild(const DirList& level, std::string_view name) {
  auto it = lowerBound(level, name);
  return (it != level.end() && (*it)->fileName == name) ? it->get() : nullptr;
}

const char* iconFor(std::int32_t state) {
  switch (state) {
    case 1:
      return "selected";
    case 2:
      return "selectedSome";
    default:
      return "unselected";
  }
}

void setState(MzTreeDirNode& node, std::int32_t state) {
  node.isSelected = state;
  node.nodeIcon = iconFor(state);
}

std::int32_t stateOf(const MzTreeFileNode& file) { return file.bSelected ? 1 : 0; }

// The parent's files and directories hold both `state` and another state, or a directory
// is partly ticked.
bool isMixed(const MzTreeDirNode& parent, std::int32_t state) {
  bool some = false;
  bool other = false;
  for (const auto& f : parent.fileChildren) (stateOf(*f) == state ? some : other) = true;
  for (const auto& d : parent.children) {
    if (d->isSelected == 2) return true;
    (d->isSelected == state ? some : other) = true;
  }
  return some && other;
}

// The extension of a file name, or the whole name when it has none (no ".", or only a
// leading or trailing one).
std::string fileTypeOf(std::string_view name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
    return std::string(name);
  }
  return std::string(name.substr(dot + 1));
}

}  // namespace

int compareTreeNames(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ai = i;
      std::size_t bj = j;
      while (ai < a.size() && a[ai] == '0') ++ai;
      while (bj < b.size() && b[bj] == '0') ++bj;
      std::size_t aEnd = digitRunEnd(a, ai);
      std::size_t bEnd = digitRunEnd(b, bj);
      if (aEnd - ai != bEnd - bj) return aEnd - ai < bEnd - bj ? -1 : 1;
      if (int c = a.substr(ai, aEnd - ai).compare(b.substr(bj, bEnd - bj)); c != 0) {
        return c < 0 ? -1 : 1;
      }
      i = aEnd;
      j = bEnd;
      continue;
    }
    unsigned char ca = static_cast<unsigned char>(foldAscii(a[i]));
    unsigned char cb = static_cast<unsigned char>(foldAscii(b[j]));
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// ---- Building ----

void MzTreeController::addTreeNode(const std::shared_ptr<MzTreeDirNode>& record) {
  if (record == nullptr || record->filePath.empty()) return;
  // A device path without "/." is used as it stands (nearly all are).
  std::string replaced;
  if (record->filePath.find("/.") != std::string::npos) {
    replaced = replaceSlashDot(record->filePath);
  }
  const std::string_view path = replaced.empty() ? std::string_view(record->filePath) : replaced;
  realKeypath = record->fileKey;
  dirFilePath.assign(record->fileDomain).append("/").append(path);
  const std::string device = currentDeviceName ? currentDeviceName() : std::string();
  if (device.empty()) return;

  // The device name is one component even when it holds a "/". The list is kept from record
  // to record.
  std::vector<std::string_view>& components = components_;
  components.assign({device, withoutLeadingDot(record->fileDomain)});
  splitComponents(path, components);
  std::string_view fileName;
  const bool directoryEntry = record->isFolder || record->isLink;
  if (!directoryEntry && components.size() > 2) {
    fileName = components.back();
    components.pop_back();
  }

  bool created = false;
  MzTreeDirNode* dir = addTreeFolder(components, created);
  if (!fileName.empty()) {
    if (created) dir->isLeaf = true;
    addFileNode(*dir, fileName, *record);
  } else if (created) {
    dir->isLeaf = true;  // a directory of the device; nothing below it yet
  }
  if (created) {
    reloadOutLineData();
  } else if (dir == selectedDirectory_ && !fileName.empty()) {
    shownFiles_ = dir->fileChildren;
    highlightedFiles_.clear();
    if (view_ != nullptr) view_->setFileRows(shownFiles_);
  }
}

MzTreeDirNode* MzTreeController::addTreeFolder(const std::vector<std::string_view>& components,
                                               bool& created) {
  created = false;
  DirList* level = &roots_;
  MzTreeDirNode* parent = nullptr;
  for (std::size_t k = 0; k < components.size(); ++k) {
    const std::string_view name = components[k];
    auto it = lowerBound(*level, name);
    MzTreeDirNode* node = nullptr;
    if (it != level->end() && (*it)->fileName == name) {
      node = it->get();
    } else {
      auto fresh = std::make_shared<MzTreeDirNode>();
      fresh->fileName = std::string(name);
      fresh->parent = parent;
      node = fresh.get();
      level->insert(level->begin() + (it - level->begin()), std::move(fresh));
      refreshNodeState(parent, true);
      created = true;
    }
    if (k + 1 < components.size()) node->isLeaf = false;
    parent = node;
    level = &node->children;
  }
  return parent;
}

void MzTreeController::addFileNode(MzTreeDirNode& dir, std::string_view name,
                                   MzTreeDirNode& record) {
  auto file = std::make_shared<MzTreeFileNode>();
  file->parent = &dir;
  file->treefileName = std::string(name);
  file->treefileType = fileTypeOf(name);
  file->filePath = realKeypath;
  file->dirFilePath = dirFilePath;
  // The status the record shares with the media classification; only a link is asked again,
  // as the tree shows what it points to.
  const StoredFileStatus& status = storedFileStatus(record);
  struct stat st {};
  if (status.isLink) {
    if (::stat(realKeypath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      file->isFile = true;
      file->realFileSize = static_cast<std::uint64_t>(st.st_size);
    }
  } else if (status.isRegular) {
    file->isFile = true;
    file->realFileSize = status.size;
  }
  char buffer[100] = {};
  size_to_unit(file->realFileSize, buffer);
  file->fileSize = buffer;
  dir.fileChildren.push_back(std::move(file));
  refreshNodeState(&dir, false);
}

void MzTreeController::refreshNodeState(MzTreeDirNode* parent, bool /*isFirstCreate*/) {
  // A ticked directory no longer has everything below it ticked once an unticked node
  // arrives in it; its ticked ancestors are then partly ticked too.
  for (MzTreeDirNode* p = parent; p != nullptr && p->isSelected == 1; p = p->parent) {
    setState(*p, 2);
  }
}

void MzTreeController::reloadOutLineData() {
  bRefreshTreeFlag = true;
  if (view_ != nullptr) view_->reloadTree();
  bRefreshTreeFlag = false;
  if (view_ != nullptr) view_->expandFirstRow();
}

void MzTreeController::releaseTree() {
  selectedDirectory_ = nullptr;
  shownFiles_.clear();
  highlightedFiles_.clear();
  roots_.clear();
  realKeypath.clear();
  dirFilePath.clear();
  if (view_ != nullptr) {
    view_->setFileRows(shownFiles_);
    reloadOutLineData();
  }
}

// ---- Ticking ----

std::int32_t MzTreeController::NewStateAfterChangeState(std::int32_t state) {
  return state == 1 ? 0 : 1;
}

void MzTreeController::SetAllSel(std::int32_t state, MzTreeDirNode& node) {
  for (const auto& f : node.fileChildren) f->bSelected = state == 1;
  for (const auto& d : node.children) {
    setState(*d, state);
    SetAllSel(state, *d);
  }
}

bool MzTreeController::sameLevelState(std::int32_t state, const MzTreeDirNode& node) {
  if (node.parent == nullptr) return true;
  return std::all_of(node.parent->children.begin(), node.parent->children.end(),
                     [state](const auto& d) { return d->isSelected == state; });
}

bool MzTreeController::sameLevelState(std::int32_t state, const MzTreeFileNode& node) {
  if (node.parent == nullptr) return true;
  return std::all_of(node.parent->fileChildren.begin(), node.parent->fileChildren.end(),
                     [state](const auto& f) { return stateOf(*f) == state; });
}

bool MzTreeController::GetSelectedOverItem(const MzTreeDirNode& node, std::int32_t state) {
  return node.parent != nullptr && isMixed(*node.parent, state);
}

bool MzTreeController::GetSelectedOverItem(const MzTreeFileNode& node, std::int32_t state) {
  return node.parent != nullptr && isMixed(*node.parent, state);
}

void MzTreeController::updateAncestors(MzTreeDirNode* parent, std::int32_t state) {
  // The first parent is judged by the child that changed; the ones above by the directory
  // below them, which is now either mixed (2) or `state`.
  for (MzTreeDirNode* p = parent; p != nullptr; p = p->parent) {
    if (isMixed(*p, state)) {
      setState(*p, 2);
    } else if (std::all_of(p->children.begin(), p->children.end(),
                           [state](const auto& d) { return d->isSelected == state; }) &&
               std::all_of(p->fileChildren.begin(), p->fileChildren.end(),
                           [state](const auto& f) { return stateOf(*f) == state; })) {
      setState(*p, state);
    }
  }
}

void MzTreeController::outlineViewSetObjectValue(MzTreeDirNode& node) {
  setDirectoryState(node, NewStateAfterChangeState(node.isSelected));
}

void MzTreeController::setDirectoryState(MzTreeDirNode& node, std::int32_t state) {
  state = state == 1 ? 1 : 0;
  setState(node, state);
  SetAllSel(state, node);
  updateAncestors(node.parent, state);
  ticksChanged();
}

void MzTreeController::ticksChanged() {
  if (view_ != nullptr) view_->redrawTicks();
  if (selectionChanged) selectionChanged();
}

// ---- The file table ----

void MzTreeController::fileTableSelectionDidChange(std::vector<std::size_t> rows) {
  std::erase_if(rows, [this](std::size_t r) { return r >= shownFiles_.size(); });
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  highlightedFiles_ = std::move(rows);
}

void MzTreeController::fileTableSetObjectValue(int value, std::size_t row) {
  if (row >= shownFiles_.size()) return;
  const bool on = value == 1;
  if (std::binary_search(highlightedFiles_.begin(), highlightedFiles_.end(), row)) {
    for (std::size_t r : highlightedFiles_) shownFiles_[r]->bSelected = on;
  } else {
    shownFiles_[row]->bSelected = on;
  }
  updateAncestors(shownFiles_[row]->parent, on ? 1 : 0);
  ticksChanged();
}

void MzTreeController::outlineViewSelectionDidChange(MzTreeDirNode* node) {
  if (bRefreshTreeFlag) return;
  selectedDirectory_ = node;
  shownFiles_ =
      node != nullptr ? node->fileChildren : std::vector<std::shared_ptr<MzTreeFileNode>>{};
  highlightedFiles_.clear();
  if (view_ != nullptr) view_->setFileRows(shownFiles_);
}

// ---- Counting and lookup ----

std::size_t MzTreeController::getNumSelectedItem(const MzTreeDirNode& dir, std::size_t start) {
  for (const auto& f : dir.fileChildren) start += f->bSelected ? 1 : 0;
  for (const auto& d : dir.children) start = getNumSelectedItem(*d, start);
  return start;
}

std::size_t MzTreeController::getTreeSelectedItemNum() const {
  std::size_t n = 0;
  for (const auto& root : roots_) n = getNumSelectedItem(*root, n);
  return n;
}

std::size_t MzTreeController::countFiles(const MzTreeDirNode& dir) {
  std::size_t n = dir.fileChildren.size();
  for (const auto& d : dir.children) n += countFiles(*d);
  return n;
}

TreeLocation MzTreeController::findPath(const std::string& domainAndPath) const {
  TreeLocation location;
  std::string_view text = domainAndPath;
  while (!text.empty() && text.front() == '/') text.remove_prefix(1);
  if (text.empty()) return location;
  const std::size_t slash = text.find('/');
  const std::string_view domain = withoutLeadingDot(text.substr(0, slash));
  const std::string rest =
      slash == std::string_view::npos ? std::string() : replaceSlashDot(text.substr(slash + 1));
  std::vector<std::string_view> components = {domain};
  splitComponents(rest, components);

  for (const auto& root : roots_) {
    // Down to the directory that holds the last component.
    MzTreeDirNode* holder = root.get();
    for (std::size_t k = 0; holder != nullptr && k + 1 < components.size(); ++k) {
      holder = findChild(holder->children, components[k]);
    }
    if (holder == nullptr) continue;
    location.directory = findChild(holder->children, components.back());
    for (const auto& f : holder->fileChildren) {
      if (f->treefileName == components.back()) location.files.push_back(f.get());
    }
    if (location.found()) return location;
  }
  return location;
}

bool MzTreeController::selectPath(const std::string& domainAndPath, bool on) {
  TreeLocation location = findPath(domainAndPath);
  if (!location.found()) return false;
  const std::int32_t state = on ? 1 : 0;
  if (location.directory != nullptr) {
    setState(*location.directory, state);
    SetAllSel(state, *location.directory);
    updateAncestors(location.directory->parent, state);
  }
  for (MzTreeFileNode* f : location.files) {
    f->bSelected = on;
    updateAncestors(f->parent, state);
  }
  ticksChanged();
  return true;
}
