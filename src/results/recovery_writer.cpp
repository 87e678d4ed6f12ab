#include "results/recovery_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/conversions.h"
#include "base/main_thread.h"
#include "catalogue/stored_plaintext.h"
#include "results/html_controller.h"
#include "results/message_html.h"
#include "results/output_names.h"
#include "results/text_records.h"
#include "results/vcf_controller.h"

namespace {

// Card attachments are small text files; anything larger is not a card.
constexpr std::uintmax_t kMaxCardBytes = 16u << 20;

std::string lastPathComponent(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::size_t characterCount(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string errorText(int error) { return std::strerror(error); }

// The extension of a picture's kind by its first bytes, so that the copy opens in an image
// viewer; "" when the kind is not one of these.
std::string pictureExtension(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xD8\xFF")) return ".jpg";
  if (bytes.starts_with("\x89PNG")) return ".png";
  if (bytes.starts_with("GIF8")) return ".gif";
  if (bytes.size() >= 12 && bytes.substr(4, 4) == "ftyp") {
    const std::string_view brand = bytes.substr(8, 4);
    if (brand == "heic" || brand == "heix" || brand == "mif1") return ".heic";
  }
  return "";
}

void countTicked(const MzTreeDirNode& directory, std::size_t* n) {
  for (const auto& f : directory.fileChildren) {
    if (f && f->bSelected) ++*n;
  }
  for (const auto& d : directory.children) {
    if (d) countTicked(*d, n);
  }
}

}  // namespace

std::size_t tickedTreeFiles(const std::vector<std::shared_ptr<MzTreeDirNode>>& roots) {
  std::size_t n = 0;
  for (const auto& r : roots) {
    if (r) countTicked(*r, &n);
  }
  return n;
}

MzRecoveryWriter::MzRecoveryWriter(MzResultViewController& results) : results_(results) {}

MzRecoveryWriter::~MzRecoveryWriter() { wait(); }

bool MzRecoveryWriter::start(const std::string& outputFolder) {
  if (recoverThread_.joinable()) return false;
  recoverPath = outputFolder;
  // The counters are set before the thread starts, so that a progress timer reading them
  // meanwhile sees this run's figures.
  prepareRun();
  recoverThread_ = std::thread([this] { writeEverything(); });
  return true;
}

void MzRecoveryWriter::wait() {
  if (recoverThread_.joinable()) recoverThread_.join();
}

int MzRecoveryWriter::progressPercent() const {
  const std::int64_t total = total_.load();
  if (total <= 0) return 0;
  const double p = static_cast<double>(recovred_.load()) * 100.0 / static_cast<double>(total);
  return static_cast<int>(std::min(p, 100.0));
}

std::string MzRecoveryWriter::deviceName() const {
  const auto& backup = results_.currentBackup();
  return backup ? backup->strDeviceName : std::string();
}

void MzRecoveryWriter::reportProgress() {
  if (!onProgress) return;
  RecoveryProgress p;
  p.written = recovred_.load();
  p.total = total_.load();
  p.percent = progressPercent();
  p.step = step_;
  onProgress(p);
}

void MzRecoveryWriter::beginFolder(const std::string& name) {
  step_ = name;
  recoverFilePath = recoverPath + "/" + name;
  current_ = LazyFolder{};
  current_.relative = name;
  below_ = LazyFolder{};
  reportProgress();
}

const OutputDir* MzRecoveryWriter::rootFolder(std::string* problem) {
  if (!root_.tried) {
    root_.tried = true;
    std::string cause;
    root_.dir = OutputDir::openRoot(recoverPath, true, &cause);
    if (!root_.dir) root_.problem = "cannot open the output folder: " + cause;
  }
  if (!root_.dir) *problem = root_.problem;
  return root_.dir ? &*root_.dir : nullptr;
}

const OutputDir* MzRecoveryWriter::currentFolder(std::string* problem) {
  if (!current_.tried) {
    current_.tried = true;
    if (const OutputDir* root = rootFolder(&current_.problem)) {
      current_.dir = root->openFolder(current_.relative, &current_.problem);
    }
  }
  if (!current_.dir) *problem = current_.problem;
  return current_.dir ? &*current_.dir : nullptr;
}

const OutputDir* MzRecoveryWriter::folderBelow(const std::string& relative, std::string* problem) {
  if (relative.empty()) return currentFolder(problem);
  if (!below_.tried || below_.relative != relative) {
    below_ = LazyFolder{};
    below_.relative = relative;
    below_.tried = true;
    if (const OutputDir* current = currentFolder(&below_.problem)) {
      below_.dir = current->openFolder(relative, &below_.problem);
    }
  }
  if (!below_.dir) *problem = below_.problem;
  return below_.dir ? &*below_.dir : nullptr;
}

void MzRecoveryWriter::count() {
  ++recovred_;
  ++report_.counted;
}

void MzRecoveryWriter::addIssue(std::string item, std::string reason, bool counted) {
  if (counted) ++report_.incomplete;
  report_.issues.push_back({std::move(item), std::move(reason)});
}

void MzRecoveryWriter::prepareRun() {
  report_ = RecoveryReport{};
  report_.folder = recoverPath;
  root_ = LazyFolder{};
  pictureCopies_.clear();
  // Sources are the backup's stored files: no link inside the backup is followed.
  const auto& backup = results_.currentBackup();
  sourceFolder_ = backup ? backup->backUpFilePath : std::string();
  copier_.setSourceFolder(sourceFolder_);
  recovred_ = 0;
  results_.recovredFilesNum = 0;
  total_ = results_.selectedFilesNum + static_cast<std::int64_t>(tickedTreeFiles(treeRoots));
  allSelectedFileNum = total_;
}

void MzRecoveryWriter::recoverFilesThread() {
  prepareRun();
  writeEverything();
}

void MzRecoveryWriter::writeEverything() {
  beginFolder("Photo&Video");
  for (std::size_t i = 0; i < results_.photoAndVideoArray.size(); ++i) {
    const auto& r = results_.photoAndVideoArray[i];
    if (r && r->bSelected) recoverPhotoAndVideo(*r, i);
  }

  beginFolder("AppPhoto&Video");
  for (std::size_t i = 0; i < results_.appPhotoAndVideoArray.size(); ++i) {
    const auto& r = results_.appPhotoAndVideoArray[i];
    if (r && r->bSelected) recoverAppPhotoAndVideo(*r, i);
  }

  // Without a device name the backup files go under the backup folder's name, as the
  // backup browser names its root then.
  std::string device = deviceName();
  if (device.empty() && results_.currentBackup()) {
    device = lastPathComponent(results_.currentBackup()->backUpFilePath);
  }
  beginFolder(safeFileName(device.empty() ? "Backup" : device));
  for (const auto& root : treeRoots) {
    if (root) traverseRecoverTreeNode(*root);
  }

  {
    MzRtfController rtf;
    rtf.setRtfHeader();
    beginFolder("Contact");
    for (std::size_t i = 0; i < results_.contactArray.size(); ++i) {
      const auto& c = results_.contactArray[i];
      if (c && c->bSelected) recoverContactNode(*c, i, rtf);
    }
    // The vCards hold every contact whole; a lost text file alone leaves none incomplete.
    writeCollector(rtf, "Contact", 0);
  }

  beginFolder("Message");
  for (std::size_t i = 0; i < results_.messageTreeArray.size(); ++i) {
    const auto& c = results_.messageTreeArray[i];
    if (c && c->bSelected) recoverConversation(*c, i);
  }

  const auto collect = [this](const auto& list, const char* folder, const char* type,
                              auto&& writer) {
    MzRtfController rtf;
    rtf.setRtfHeader();
    beginFolder(folder);
    std::int32_t records = 0;
    for (const auto& r : list) {
      if (!r || !r->bSelected) continue;
      writer(*r, rtf);
      ++records;
    }
    writeCollector(rtf, type, records);
  };
  collect(results_.noteArray, "Note", "Note",
          [this](const MzNoteNode& n, MzRtfController& rtf) { recoverNoteNode(n, rtf); });
  collect(
      results_.callHistoryArray, "CallHistory", "Callhistory",
      [this](const MzCallHistoryNode& c, MzRtfController& rtf) { recoverCallHistoryNode(c, rtf); });
  collect(results_.bookMarkArray, "BookMark", "BookMark",
          [this](const MzBookMarkNode& b, MzRtfController& rtf) { recoverBookMarkNode(b, rtf); });
  collect(results_.calenderArray, "Calendar&Reminder", "Calendar&Reminder",
          [this](const MzCalenderNode& e, MzRtfController& rtf) { recoverCalenderNode(e, rtf); });

  beginFolder("FaceBook&Twitter");
  for (std::size_t i = 0; i < results_.faceTwitterArray.size(); ++i) {
    const auto& r = results_.faceTwitterArray[i];
    if (r && r->bSelected) recoverFaceBookAndTwitter(*r, i);
  }

  finish();
}

void MzRecoveryWriter::finish() {
  performOnMainThreadAndWait([this] {
    results_.recovredFilesNum = 0;
    if (onFinished) onFinished(report_);
  });
}

std::optional<std::uint64_t> MzRecoveryWriter::sourceBytes(const std::string& source,
                                                           std::size_t limit, std::string* bytes,
                                                           std::string* problem) const {
  StoredPlaintext stored = StoredPlaintext::open(sourceFolder_, source);
  const OpenedStoredFile& opened = stored.opened();
  if (stored.fd() < 0) {
    *problem = opened.refused ? "skipped: " + opened.reason()
                              : "source cannot be read: " + opened.reason();
    return std::nullopt;
  }
  if (!stored.isOpen()) {
    *problem = "source does not decrypt: " + stored.reason();
    return std::nullopt;
  }
  // The plaintext's size: an encrypted file's is told by its last block.
  std::optional<std::uint64_t> size = stored.size();
  if (!size) {
    *problem = stored.encrypted() ? std::string("source does not decrypt")
                                  : "source cannot be read: " + errorText(errno);
    return std::nullopt;
  }
  if (bytes != nullptr) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(limit, *size));
    const auto prefix = stored.readPrefix(want);
    if (!prefix || prefix->size() < want) {
      *problem = "source cannot be read: " + errorText(prefix ? EIO : errno);
      return std::nullopt;
    }
    bytes->assign(prefix->begin(), prefix->end());
  }
  return size;
}

void MzRecoveryWriter::copyCounted(const std::string& item, const std::string& source,
                                   std::uint64_t expected, const OutputDir* folder,
                                   const std::string& problem, const std::string& name,
                                   std::size_t index) {
  if (folder == nullptr) {
    addIssue(item, problem, true);
    return;
  }
  CopyResult r = copier_.copyFile(source, expected, *folder, name, index);
  if (!r.complete()) addIssue(item, copyProblem(r, expected), true);
}

void MzRecoveryWriter::copyMedia(const MzPhotoAndVideoNode& record, std::size_t index) {
  count();
  reportProgress();
  // A record of size 0 has nothing to copy.
  if (record.fileSizeNumber == 0) return;
  std::string problem;
  const OutputDir* folder = currentFolder(&problem);
  // A photo of a current camera roll is written under the name it was taken or imported
  // under; its bytes are copied as they are, whatever the format.
  const std::string& name =
      record.originalFileName.empty() ? record.fileNodeName : record.originalFileName;
  if (folder == nullptr) {
    addIssue(name, problem, true);
    return;
  }
  CopyResult still =
      record.sourceFolder.empty()
          ? copier_.copyFile(record.filePath, record.fileSizeNumber, *folder, safeFileName(name),
                             index)
          : copier_.copyFileFrom(record.sourceFolder, record.filePath, record.fileSizeNumber,
                                 *folder, safeFileName(name), index);
  if (!still.complete()) addIssue(name, copyProblem(still, record.fileSizeNumber), true);
  if (record.bLivePhoto) copyLivePhotoMovie(record, still, *folder, index);
}

void MzRecoveryWriter::copyLivePhotoMovie(const MzPhotoAndVideoNode& record,
                                          const CopyResult& still, const OutputDir& folder,
                                          std::size_t index) {
  if (record.livePhotoMovieSize == 0 || record.livePhotoMoviePath.empty()) return;
  // The movie goes beside the still under the still's final stem, so the two stay a pair
  // even when the still's name was taken and it got the index in front.
  const std::string stillName =
      record.originalFileName.empty() ? record.fileNodeName : record.originalFileName;
  const std::filesystem::path written = still.target.empty()
                                            ? std::filesystem::path(safeFileName(stillName))
                                            : std::filesystem::path(still.target).filename();
  const std::string ext = std::filesystem::path(record.livePhotoMovieName).extension().string();
  const std::string name = written.stem().string() + (ext.empty() ? ".MOV" : ext);
  CopyResult movie = copier_.copyFile(record.livePhotoMoviePath, record.livePhotoMovieSize, folder,
                                      safeFileName(name), index);
  if (!movie.complete()) {
    addIssue(record.livePhotoMovieName, copyProblem(movie, record.livePhotoMovieSize), true);
  }
}

void MzRecoveryWriter::recoverPhotoAndVideo(const MzPhotoAndVideoNode& record, std::size_t index) {
  copyMedia(record, index);
}

void MzRecoveryWriter::recoverAppPhotoAndVideo(const MzPhotoAndVideoNode& record,
                                               std::size_t index) {
  copyMedia(record, index);
}

void MzRecoveryWriter::recoverFaceBookAndTwitter(const MzFaceTwitterNode& record,
                                                 std::size_t index) {
  count();
  reportProgress();
  std::string problem;
  const OutputDir* folder = currentFolder(&problem);
  copyCounted(record.faceTwitterFileName, record.faceTwitterFilePath, record.FileSizeNumber, folder,
              problem, safeFileName(record.faceTwitterFileName), index);
}

std::string MzRecoveryWriter::vcardFileName(const MzContactNode& contact) {
  std::string base;
  if (!contact.contactName.empty()) {
    base = contact.contactName;
  } else if (!contact.contactCompany.empty()) {
    base = contact.contactCompany;
  } else {
    base = "unknown " + std::to_string(contact.rowid);
  }
  return safeFileName(base + ".vcf");
}

std::string MzRecoveryWriter::conversationFileName(const MzMessageTreeNode& conversation) {
  std::string base = characterCount(conversation.messageTreeNodeName) < 2
                         ? conversation.messageTreeNodeAdress
                         : conversation.messageTreeNodeName;
  if (base.empty()) base = "_";
  return safeFileName(base + ".html");
}

void MzRecoveryWriter::recoverContactNode(const MzContactNode& contact, std::size_t index,
                                          MzRtfController& rtf) {
  count();
  reportProgress();
  rtf.addRtfContent(contactRecordText(contact));
  MzVCFController card;
  const std::string name = vcardFileName(contact);
  std::string problem;
  const OutputDir* folder = currentFolder(&problem);
  if (folder == nullptr) {
    addIssue("Contact/" + name, problem, true);
    return;
  }
  int error = 0;
  if (!writeNewFileAtomically(*folder, name, index, card.buildCard(contact), &error)) {
    addIssue("Contact/" + name, "cannot write the vCard: " + errorText(error), true);
  }
}

void MzRecoveryWriter::recoverConversation(const MzMessageTreeNode& conversation,
                                           std::size_t index) {
  count();
  reportProgress();
  MzHtmlController page;
  page.initMessageHtmlHeader(messagePageTitle(deviceName()));
  handleFatherMessageHtml(conversation, page);
  if (conversation.MessageNodeArray) {
    for (const auto& m : *conversation.MessageNodeArray) {
      if (!m) continue;
      if (m->chat || !m->service.empty()) {
        AttachmentUrls urls;
        for (const auto& attachment : m->attachments)
          urls.push_back(writeAttachmentFile(attachment));
        handleCurrentMessageHtml(*m, page, urls);
        continue;
      }
      std::optional<std::string> picture;
      if (m->isHasAttach && m->attachType == "Image") picture = writePictureFile(*m);
      handleMessageHtml(*m, page, false, picture);
      if (m->attachType == "Contact" || m->attachType == "Location") {
        writeVCFCardNode(*m);
      } else if (m->attachType == "Mov") {
        writeMovFile(*m);
      }
    }
  }
  page.addHtmlContent("<hr/>");
  const std::string name = conversationFileName(conversation);
  std::string problem;
  const OutputDir* folder = currentFolder(&problem);
  if (folder == nullptr) {
    addIssue("Message/" + name, problem, true);
    return;
  }
  int error = 0;
  if (!writeNewFileAtomically(*folder, name, index, page.pageBytes(), &error)) {
    addIssue("Message/" + name, "cannot write the page: " + errorText(error), true);
  }
}

void MzRecoveryWriter::writeMovFile(const MzMessageNode& message) {
  count();
  reportProgress();
  if (!message.attachmentPath || message.attachmentPath->empty()) {
    addIssue("movie attachment", "the message names no stored file", true);
    return;
  }
  const std::string& source = *message.attachmentPath;
  const std::string name = safeFileName(lastPathComponent(source) + ".mov");
  std::string problem;
  const auto size = sourceBytes(source, 0, nullptr, &problem);
  if (!size) {
    addIssue("Message/" + name, problem, true);
    return;
  }
  const OutputDir* folder = currentFolder(&problem);
  copyCounted("Message/" + name, source, *size, folder, problem, name, 0);
}

std::optional<std::string> MzRecoveryWriter::writePictureFile(const MzMessageNode& message) {
  if (!message.attachmentPath || message.attachmentPath->empty()) return std::nullopt;
  const std::string& source = *message.attachmentPath;
  if (auto known = pictureCopies_.find(source); known != pictureCopies_.end()) {
    return known->second;
  }
  std::string head;
  std::string problem;
  const auto size = sourceBytes(source, 12, &head, &problem);
  const std::string name = safeFileName(lastPathComponent(source) + pictureExtension(head));
  if (!size) {
    addIssue("Message/" + name, problem, false);
    return std::nullopt;
  }
  return copyBesidePage(source, *size, name);
}

std::optional<std::string> MzRecoveryWriter::copyBesidePage(const std::string& source,
                                                            std::uint64_t size,
                                                            const std::string& name) {
  std::string problem;
  const OutputDir* folder = currentFolder(&problem);
  if (folder == nullptr) {
    addIssue("Message/" + name, problem, false);
    return std::nullopt;
  }
  CopyResult r = copier_.copyFile(source, size, *folder, name, 0);
  if (!r.complete()) addIssue("Message/" + name, copyProblem(r, size), false);
  if (r.target.empty()) return std::nullopt;
  std::string url = relativeUrl(lastPathComponent(r.target));
  pictureCopies_.emplace(source, url);
  return url;
}

std::optional<std::string> MzRecoveryWriter::writeAttachmentFile(
    const MzMessageAttachment& attachment) {
  if (!attachment.storedPath || attachment.storedPath->empty()) return std::nullopt;
  const std::string& source = *attachment.storedPath;
  if (auto known = pictureCopies_.find(source); known != pictureCopies_.end()) {
    return known->second;
  }
  const std::string name =
      safeFileName(attachment.name.empty() ? lastPathComponent(source) : attachment.name);
  std::string problem;
  const auto size = sourceBytes(source, 0, nullptr, &problem);
  if (!size) {
    addIssue("Message/" + name, problem, false);
    return std::nullopt;
  }
  return copyBesidePage(source, *size, name);
}

void MzRecoveryWriter::writeVCFCardNode(const MzMessageNode& message) {
  if (!message.attachmentPath || message.attachmentPath->empty()) return;
  const std::string& source = *message.attachmentPath;
  const std::string name = safeFileName(lastPathComponent(source) + ".vcf");
  std::string bytes;
  std::string problem;
  const auto size = sourceBytes(source, kMaxCardBytes, &bytes, &problem);
  if (!size || *size > kMaxCardBytes) {
    addIssue("Message/" + name, size ? "card too large" : problem, false);
    return;
  }
  const std::string text = GetStringFormChar(std::string_view(bytes));
  if (text.empty() && !bytes.empty()) {
    addIssue("Message/" + name, "card is not UTF-8 text", false);
    return;
  }
  const OutputDir* folder = currentFolder(&problem);
  if (folder == nullptr) {
    addIssue("Message/" + name, problem, false);
    return;
  }
  int error = 0;
  if (!writeNewFileAtomically(*folder, name, 0, text, &error)) {
    addIssue("Message/" + name, "cannot write the card: " + errorText(error), false);
  }
}

void MzRecoveryWriter::traverseRecoverTreeNode(const MzTreeDirNode& directory) {
  if (directory.isSelected == 0) return;
  for (std::size_t i = 0; i < directory.fileChildren.size(); ++i) {
    const auto& file = directory.fileChildren[i];
    if (!file || !file->bSelected) continue;
    const auto relative = safeRelativePath(file->dirFilePath);
    if (!relative) {
      if (file->isFile) count();
      addIssue(file->dirFilePath, "the device path names no file", file->isFile);
      continue;
    }
    std::string problem;
    if (!file->isFile) {
      if (!folderBelow(*relative, &problem)) addIssue(file->dirFilePath, problem, false);
      continue;
    }
    count();
    reportProgress();
    const std::size_t slash = relative->rfind('/');
    const std::string parent = slash == std::string::npos ? "" : relative->substr(0, slash);
    const OutputDir* folder = folderBelow(parent, &problem);
    copyCounted(file->dirFilePath, file->filePath, file->realFileSize, folder, problem,
                relative->substr(slash == std::string::npos ? 0 : slash + 1), i);
  }
  for (const auto& child : directory.children) {
    if (child) traverseRecoverTreeNode(*child);
  }
}

void MzRecoveryWriter::recoverNoteNode(const MzNoteNode& note, MzRtfController& rtf) {
  count();
  reportProgress();
  rtf.addRtfContent(noteRecordText(note));
  copyNoteAttachments(note);
}

void MzRecoveryWriter::copyNoteAttachments(const MzNoteNode& note) {
  for (const auto& attachment : note.attachments) {
    if (!attachment.storedPath || attachment.storedPath->empty()) continue;
    const std::string& source = *attachment.storedPath;
    const std::string name =
        safeFileName(attachment.name.empty() ? lastPathComponent(source) : attachment.name);
    std::string problem;
    const auto size = sourceBytes(source, 0, nullptr, &problem);
    const OutputDir* folder = size ? currentFolder(&problem) : nullptr;
    if (folder == nullptr) {
      addIssue("Note/" + name, problem, false);
      continue;
    }
    const CopyResult r = copier_.copyFile(source, *size, *folder, name, 0);
    if (!r.complete()) addIssue("Note/" + name, copyProblem(r, *size), false);
  }
}

void MzRecoveryWriter::recoverCallHistoryNode(const MzCallHistoryNode& call, MzRtfController& rtf) {
  count();
  reportProgress();
  rtf.addRtfContent(callRecordText(call));
}

void MzRecoveryWriter::recoverBookMarkNode(const MzBookMarkNode& bookMark, MzRtfController& rtf) {
  count();
  reportProgress();
  rtf.addRtfContent(bookMarkRecordText(bookMark));
}

void MzRecoveryWriter::recoverCalenderNode(const MzCalenderNode& event, MzRtfController& rtf) {
  count();
  reportProgress();
  rtf.addRtfContent(calenderRecordText(event));
}

void MzRecoveryWriter::writeCollector(MzRtfController& rtf, const std::string& type,
                                      std::int32_t records) {
  if (rtf.strRtfContent.empty()) return;
  rtf.setRtfEnder();
  const std::string item = step_ + "/" + MzRtfController::finalFileName(type);
  const std::string lost = records > 0 ? " (" + std::to_string(records) + " records)" : "";
  std::string problem;
  const OutputDir* folder = currentFolder(&problem);
  int error = 0;
  if (folder == nullptr) {
    addIssue(item, problem + lost, false);
  } else if (!rtf.writeRtfInPath(*folder, type, &error)) {
    addIssue(item, "cannot write the text file" + lost + ": " + errorText(error), false);
  } else {
    return;
  }
  report_.incomplete += records;
}
