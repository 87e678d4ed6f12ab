#include "ui/record_preview.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <QStringList>

#include "base/conversions.h"
#include "results/message_html.h"
#include "results/text_records.h"
#include "ui/stored_image.h"

namespace {

QString tr(const char* text) { return QCoreApplication::translate("RecordPreview", text); }

QString esc(const std::string& text) {
  return QString::fromStdString(text).toHtmlEscaped().replace('\n', "<br/>");
}

// One "label: value" line; nothing for an empty value.
QString field(const char* label, const std::string& value) {
  const QString v = QString::fromStdString(value).trimmed();
  if (v.isEmpty()) return {};
  return QString(
             "<tr><td style='color:#5a6675;padding-right:12px;vertical-align:top'>%1</td>"
             "<td>%2</td></tr>")
      .arg(tr(label).toHtmlEscaped(), v.toHtmlEscaped().replace('\n', "<br/>"));
}

// One row per value of `kind`, titled by its label (`title` when it has none); the string
// `whole` as one row when the record has no value of the kind.
QStringList valueRows(const MzContactNode& contact, MzContactValue::Kind kind, const char* title,
                      const std::string& whole) {
  QStringList rows;
  for (const auto& v : contact.values) {
    if (v.kind != kind || v.value.empty()) continue;
    const QString label = v.label.empty() ? tr(title) : QString::fromStdString(v.label);
    rows << QString(
                "<tr><td style='color:#5a6675;padding-right:12px;vertical-align:top'>%1</td>"
                "<td>%2</td></tr>")
                .arg(label.toHtmlEscaped(), esc(v.value));
  }
  if (rows.isEmpty()) rows << field(title, whole);
  return rows;
}

// Where the record came from, as the last row of its fields; nothing when it does not say.
QString originRow(const RecordOrigin& origin) { return field("Origin", originText(origin)); }

// A live record's earlier versions, each with its fields and where it was carved from.
QString historySection(const RecordHistory* history, const void* record) {
  if (history == nullptr) return {};
  const std::vector<EarlierVersion>& versions = history->of(record);
  if (versions.empty()) return {};
  QString html =
      "<h3 style='margin:12px 0 4px 0'>" + tr("Earlier versions").toHtmlEscaped() + "</h3>";
  for (const EarlierVersion& v : versions) {
    QStringList rows;
    for (const auto& [label, value] : v.fields) {
      rows << QString(
                  "<tr><td style='color:#5a6675;padding-right:12px;vertical-align:top'>%1</td>"
                  "<td>%2</td></tr>")
                  .arg(tr(label.c_str()).toHtmlEscaped(), esc(value));
    }
    html += "<p style='color:#5a6675;margin:8px 0 2px 0'>" + esc(originText(v.origin)) + "</p>" +
            "<table>" + rows.join(QString()) + "</table>";
  }
  return html;
}

QString deletedTag(bool deleted) {
  return deleted ? QString(" <span style='color:#d9511e;font-weight:bold'>%1</span>")
                       .arg(tr("(deleted)"))
                 : QString();
}

QString heading(const std::string& title, bool deleted) {
  return QString("<h2 style='margin:0 0 8px 0'>%1%2</h2>")
      .arg(title.empty() ? tr("(no title)").toHtmlEscaped() : esc(title), deletedTag(deleted));
}

QString table(const QStringList& rows) { return "<table>" + rows.join(QString()) + "</table>"; }

// A picture of the record as an inline image, when its bytes are a picture Qt reads.
QString picture(const Bytes& bytes) {
  if (!bytes || bytes->empty()) return {};
  const QByteArray data(reinterpret_cast<const char*>(bytes->data()),
                        static_cast<qsizetype>(bytes->size()));
  return QString("<p><img width='96' src='data:image;base64,%1'/></p>")
      .arg(QString::fromLatin1(data.toBase64()));
}

// A picture attachment as an inline image, read from the backup and scaled down; "" when it
// cannot be read as a picture.
QString inlinePicture(const std::string& backupFolder, const std::string& path, int width = 240) {
  const QImage image = readStoredImage(backupFolder, path, QSize(width, width * 4));
  if (image.isNull()) return {};
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return QString("<img src='data:image/png;base64,%1'/>").arg(QString::fromLatin1(png.toBase64()));
}

// The day of a "MM-DD-YYYY HH:MM" date, "" for none.
std::string dayOf(const std::string& date) { return date.size() >= 10 ? date.substr(0, 10) : ""; }

QString chip(const QString& text) {
  return QString(
             "<span style='background:#ffffff;color:#1f3b5c;border:1px solid "
             "#aeb8c6'>&nbsp;%1&nbsp;</span>")
      .arg(text.toHtmlEscaped());
}

// One attachment of a current message: the picture itself, else a chip with its kind and
// name ("not in the backup" when its file is missing).
QString attachmentView(const MzMessageAttachment& a, const std::string& backupFolder) {
  if (a.kind == "Image" && a.storedPath) {
    const QString inlined = inlinePicture(backupFolder, *a.storedPath);
    if (!inlined.isEmpty()) return inlined;
  }
  QString label = tr(a.kind.c_str()) + ": " + QString::fromStdString(a.name);
  if (!a.storedPath) label += " " + tr("(not in the backup)");
  return chip(label);
}

// A current note's attachments after its text: pictures inline, other files as chips.
QString noteAttachments(const MzNoteNode& note, const std::string& backupFolder) {
  QString out;
  for (const auto& a : note.attachments) {
    QString view;
    if (a.storedPath) view = inlinePicture(backupFolder, *a.storedPath);
    if (view.isEmpty()) {
      QString label = tr("Attachment") + ": " + QString::fromStdString(a.name);
      if (!a.storedPath) label += " " + tr("(not in the backup)");
      view = chip(label);
    }
    out += "<p>" + view + "</p>";
  }
  return out;
}

// The body of a current message: the text with each attachment at its place holder, any
// attachment without one after it; "Unsent" for an unsent message; the message it replies
// to above.
QString currentBody(const MzMessageNode& m, const std::string& backupFolder) {
  QString body;
  if (m.replyTo) {
    body += QString("<span style='font-size:small'>&#8618; %1</span><br/>").arg(esc(*m.replyTo));
  }
  if (m.unsent) return body + "<i>" + tr("Unsent").toHtmlEscaped() + "</i>";
  const QStringList pieces = QString::fromStdString(m.messageContent).split(QChar(0xFFFC));
  std::size_t next = 0;
  for (qsizetype i = 0; i < pieces.size(); ++i) {
    body += pieces[i].toHtmlEscaped().replace('\n', "<br/>");
    if (i + 1 < pieces.size() && next < m.attachments.size()) {
      body += attachmentView(m.attachments[next++], backupFolder) + "<br/>";
    }
  }
  for (; next < m.attachments.size(); ++next) {
    body += "<br/>" + attachmentView(m.attachments[next], backupFolder);
  }
  return body;
}

// The reactions on a current message as small marks, each with its sender in words.
QString reactionMarks(const MzMessageNode& m, const std::string& backupFolder) {
  QStringList marks;
  for (const auto& r : m.reactions) {
    if (r.kind == "Sticker" && r.stickerPath) {
      const QString sticker = inlinePicture(backupFolder, *r.stickerPath, 24);
      if (!sticker.isEmpty()) {
        marks << sticker;
        continue;
      }
    }
    marks << QString("<span title='%1'>%2</span>")
                 .arg((tr(r.kind.c_str()) + " " + tr("by") + " " + QString::fromStdString(r.sender))
                          .toHtmlEscaped(),
                      QString::fromStdString(reactionMark(r)).toHtmlEscaped());
  }
  return marks.join(' ');
}

QString conversation(const MzMessageTreeNode& c, const std::string& backupFolder,
                     const RecordHistory* history) {
  QString html = heading(
      c.messageTreeNodeName.empty() ? c.messageTreeNodeAdress : c.messageTreeNodeName, c.bdeleted);
  QStringList about;
  if (!c.messageTreeNodeName.empty() && !c.messageTreeNodeAdress.empty()) {
    about << esc(c.messageTreeNodeAdress);
  }
  if (c.chat && !c.chat->service.empty()) about << esc(c.chat->service);
  if (!about.isEmpty()) html += "<p style='color:#5a6675'>" + about.join(" &middot; ") + "</p>";
  const bool group = c.chat && c.chat->group;
  std::string day;
  for (const auto& m : *c.MessageNodeArray) {
    if (!m) continue;
    if (const std::string d = dayOf(m->messageDate); !d.empty() && d != day) {
      day = d;
      html += QString("<p align='center' style='color:#7a8594'>%1</p>").arg(esc(d));
    }
    const bool sent = m->messageType == "Send";
    const bool current = m->chat || !m->service.empty();
    QString body = esc(m->messageContent);
    QString notes;  // under the time: reactions, "Edited"
    if (current) {
      body = currentBody(*m, backupFolder);
      if (group && !sent && !m->sender.empty()) {
        body =
            QString("<span style='font-size:small;font-weight:bold;color:#1f3b5c'>%1</span><br/>")
                .arg(esc(m->sender)) +
            body;
      }
      QStringList under;
      if (!m->reactions.empty()) under << reactionMarks(*m, backupFolder);
      if (m->edited) under << tr("Edited").toHtmlEscaped();
      if (!under.isEmpty()) notes = " &middot; " + under.join(" &middot; ");
    } else if (m->isHasAttach || m->attachType) {
      const QString kind = QString::fromStdString(m->attachType.value_or("Attachment"));
      body = body.remove(QChar(0xFFFC)).trimmed();
      QString inlined;
      if (m->attachType == "Image" && m->attachmentPath) {
        inlined = inlinePicture(backupFolder, *m->attachmentPath);
      }
      if (!inlined.isEmpty()) {
        body = inlined + (body.isEmpty() ? "" : "<br/>" + body);
      } else {
        body += QString(
                    "%1<span style='background:#ffffff;color:#1f3b5c;border:1px solid "
                    "#aeb8c6'>&nbsp;%2&nbsp;</span>")
                    .arg(body.isEmpty() ? "" : "<br/>", kind.toHtmlEscaped());
      }
    }
    // A deleted message says where it was found, under its time; a live one would only
    // repeat its conversation's database on every bubble.
    if (m->bDeleted && m->origin.known()) {
      notes += "<br/>" + (tr("Origin") + ": ").toHtmlEscaped() + esc(originText(m->origin));
    }
    // A live message's earlier versions, each with its text and where it was carved from.
    if (!m->bDeleted && history != nullptr) {
      for (const EarlierVersion& v : history->of(m.get())) {
        notes += "<br/>" + (tr("Earlier version") + ": ").toHtmlEscaped() + esc(v.line()) + " (" +
                 esc(originText(v.origin)) + ")";
      }
    }
    const QString time = QString::fromStdString(
        m->messageDate.size() > 11 ? m->messageDate.substr(11) : m->messageDate);
    const QString bubble =
        QString(
            "<td width='75%' %1 style='background:%2;color:%3;padding:6px 10px'>%4%5"
            "<div style='font-size:small;color:%6'>%7%8</div></td>")
            .arg(sent ? "align='right'" : "", sent ? "#2f7bd0" : "#e6e9ee",
                 sent ? "#ffffff" : "#1b1f24", body, deletedTag(m->bDeleted),
                 sent ? "#dbe8f7" : "#6b7480", time.toHtmlEscaped(), notes);
    // A table of its own per message: the columns of one table would be shared by both
    // sides' bubbles.
    html += "<table width='100%' cellspacing='2'><tr>" +
            (sent ? "<td width='25%'></td>" + bubble : bubble + "<td width='25%'></td>") +
            "</tr></table>";
  }
  return html;
}

}  // namespace

QString recordPreviewHtml(const ResultRecord& record, const std::string& backupFolder,
                          const RecordHistory* history) {
  const QString fields = std::visit(
      [&backupFolder, history](const auto& r) -> QString {
        using T = std::decay_t<decltype(*r)>;
        if (!r) return {};
        if constexpr (std::is_same_v<T, MzContactNode>) {
          return picture(r->imageData) + heading(r->contactName, r->bDeleted) +
                 table(valueRows(*r, MzContactValue::Kind::Phone, "Phone", r->contactPhone) +
                       valueRows(*r, MzContactValue::Kind::Email, "E-mail", r->contactEmail) +
                       QStringList{field("Company", r->contactCompany),
                                   field("Job title", r->contactJobtitle)} +
                       valueRows(*r, MzContactValue::Kind::Address, "Address", r->contactAdress) +
                       valueRows(*r, MzContactValue::Kind::Url, "Home page", r->contactHomepage) +
                       QStringList{
                           field("Birthday",
                                 birthdayDate(r->contactBirthday).value_or(r->contactBirthday)),
                           field("Note", r->contactNote), originRow(r->origin)});
        } else if constexpr (std::is_same_v<T, MzMessageTreeNode>) {
          return conversation(*r, backupFolder, history);
        } else if constexpr (std::is_same_v<T, MzNoteNode>) {
          // Folder, account and creation date come with the current store's notes only.
          return heading(r->noteTitle, r->bDeleted) +
                 table({field("Folder", r->folder), field("Account", r->account),
                        field("Created", r->createdDate), field("Date", r->noteDate),
                        originRow(r->origin)}) +
                 (r->locked ? "<p><i>" + tr("Locked").toHtmlEscaped() + "</i></p>"
                            : "<p>" + esc(r->noteContent) + "</p>") +
                 noteAttachments(*r, backupFolder);
        } else if constexpr (std::is_same_v<T, MzCallHistoryNode>) {
          return heading(r->callName.value_or(r->callPhone), r->bDeleted) +
                 table({field("Number", r->callPhone), field("Date", r->callDate),
                        field("Type", callTypeText(*r)), field("Duration", r->callDuration),
                        originRow(r->origin)});
        } else if constexpr (std::is_same_v<T, MzBookMarkNode>) {
          return heading(r->bookMarkTitle, r->bDeleted) +
                 table({field("Address", r->bookMarkURL), field("Kind", r->kind),
                        field("Last visit", r->lastVisit),
                        field("Visits", r->visitCount >= 0 ? std::to_string(r->visitCount) : ""),
                        originRow(r->origin)});
        } else if constexpr (std::is_same_v<T, MzCalenderNode>) {
          // Calendar, attendees and the reminder's state come with the current database only.
          return heading(r->calTitle, r->bDeleted) +
                 table({field("Kind", r->kind), field("Calendar", r->calendarName),
                        field("Starts", r->startDate), field("Ends", r->endDate),
                        field("All day", r->allDay ? "Yes" : ""), field("Due", r->dueDate),
                        field("Completed", r->kind.empty() ? "" : (r->completed ? "Yes" : "No")),
                        field("Location", r->location),
                        field("Attendees", calenderAttendeesText(*r)), field("Note", r->calNote),
                        originRow(r->origin)});
        } else if constexpr (std::is_same_v<T, MzPhotoAndVideoNode>) {
          return heading(r->fileNodeName, false) +
                 table({field("Kind", r->bLivePhoto ? "Live Photo" : ""),
                        field("Size", r->fileNodeSize), field("Taken", r->captureDate),
                        field("Original name", r->originalFileName),
                        field("Movie", r->bLivePhoto ? r->livePhotoMovieName + " (" +
                                                           sizeText(r->livePhotoMovieSize) + ")"
                                                     : ""),
                        field("Edited from", r->renderOf), field("Device path", r->devicePath)});
        } else if constexpr (std::is_same_v<T, MzFaceTwitterNode>) {
          return heading(r->faceTwitterFileName, false) + table({field("Size", r->fileSize)});
        }
        return {};
      },
      record);
  // The earlier versions of a live record (a conversation's are under their messages).
  const void* live = std::visit(
      [](const auto& r) -> const void* {
        using T = std::decay_t<decltype(*r)>;
        if constexpr (std::is_same_v<T, MzMessageTreeNode> ||
                      std::is_same_v<T, MzPhotoAndVideoNode> ||
                      std::is_same_v<T, MzFaceTwitterNode>) {
          return nullptr;
        } else {
          return r && !r->bDeleted ? r.get() : nullptr;
        }
      },
      record);
  return fields + historySection(history, live);
}
