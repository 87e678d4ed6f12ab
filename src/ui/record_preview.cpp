#include "ui/record_preview.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <QStringList>

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
QString inlinePicture(const std::string& backupFolder, const std::string& path) {
  const QImage image = readStoredImage(backupFolder, path, QSize(240, 960));
  if (image.isNull()) return {};
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return QString("<img src='data:image/png;base64,%1'/>").arg(QString::fromLatin1(png.toBase64()));
}

// The day of a "MM-DD-YYYY HH:MM" date, "" for none.
std::string dayOf(const std::string& date) { return date.size() >= 10 ? date.substr(0, 10) : ""; }

QString conversation(const MzMessageTreeNode& c, const std::string& backupFolder) {
  QString html = heading(
      c.messageTreeNodeName.empty() ? c.messageTreeNodeAdress : c.messageTreeNodeName, c.bdeleted);
  if (!c.messageTreeNodeName.empty() && !c.messageTreeNodeAdress.empty()) {
    html += "<p style='color:#5a6675'>" + esc(c.messageTreeNodeAdress) + "</p>";
  }
  std::string day;
  for (const auto& m : *c.MessageNodeArray) {
    if (!m) continue;
    if (const std::string d = dayOf(m->messageDate); !d.empty() && d != day) {
      day = d;
      html += QString("<p align='center' style='color:#7a8594'>%1</p>").arg(esc(d));
    }
    const bool sent = m->messageType == "Send";
    QString body = esc(m->messageContent);
    if (m->isHasAttach || m->attachType) {
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
    const QString time = QString::fromStdString(
        m->messageDate.size() > 11 ? m->messageDate.substr(11) : m->messageDate);
    const QString bubble =
        QString(
            "<td width='75%' %1 style='background:%2;color:%3;padding:6px 10px'>%4%5"
            "<div style='font-size:small;color:%6'>%7</div></td>")
            .arg(sent ? "align='right'" : "", sent ? "#2f7bd0" : "#e6e9ee",
                 sent ? "#ffffff" : "#1b1f24", body, deletedTag(m->bDeleted),
                 sent ? "#dbe8f7" : "#6b7480", time.toHtmlEscaped());
    // A table of its own per message: the columns of one table would be shared by both
    // sides' bubbles.
    html += "<table width='100%' cellspacing='2'><tr>" +
            (sent ? "<td width='25%'></td>" + bubble : bubble + "<td width='25%'></td>") +
            "</tr></table>";
  }
  return html;
}

}  // namespace

QString recordPreviewHtml(const ResultRecord& record, const std::string& backupFolder) {
  return std::visit(
      [&backupFolder](const auto& r) -> QString {
        using T = std::decay_t<decltype(*r)>;
        if (!r) return {};
        if constexpr (std::is_same_v<T, MzContactNode>) {
          return picture(r->imageData) + heading(r->contactName, r->bDeleted) +
                 table({field("Phone", r->contactPhone), field("E-mail", r->contactEmail),
                        field("Company", r->contactCompany), field("Job title", r->contactJobtitle),
                        field("Address", r->contactAdress), field("Home page", r->contactHomepage),
                        field("Birthday", r->contactBirthday), field("Note", r->contactNote)});
        } else if constexpr (std::is_same_v<T, MzMessageTreeNode>) {
          return conversation(*r, backupFolder);
        } else if constexpr (std::is_same_v<T, MzNoteNode>) {
          return heading(r->noteTitle, r->bDeleted) + table({field("Date", r->noteDate)}) + "<p>" +
                 esc(r->noteContent) + "</p>";
        } else if constexpr (std::is_same_v<T, MzCallHistoryNode>) {
          return heading(r->callName.value_or(r->callPhone), r->bDeleted) +
                 table({field("Number", r->callPhone), field("Date", r->callDate),
                        field("Type", r->callType), field("Duration", r->callDuration)});
        } else if constexpr (std::is_same_v<T, MzBookMarkNode>) {
          return heading(r->bookMarkTitle, r->bDeleted) + table({field("Address", r->bookMarkURL)});
        } else if constexpr (std::is_same_v<T, MzCalenderNode>) {
          return heading(r->calTitle, r->bDeleted) +
                 table({field("Starts", r->startDate), field("Ends", r->endDate),
                        field("Location", r->location), field("Note", r->calNote)});
        } else if constexpr (std::is_same_v<T, MzPhotoAndVideoNode>) {
          return heading(r->fileNodeName, false) + table({field("Size", r->fileNodeSize)});
        } else if constexpr (std::is_same_v<T, MzFaceTwitterNode>) {
          return heading(r->faceTwitterFileName, false) + table({field("Size", r->fileSize)});
        }
        return {};
      },
      record);
}
