// The preview of one result record as rich text for the results view's preview pane: a
// contact card with its picture, a conversation as chat bubbles (sent on the right, received
// on the left, a line for each new day, attachments named, deleted messages marked), and the
// fields of a note, call, bookmark, calendar event or media file as a readable list. Every
// text from the backup is escaped: the pane never runs markup found in the data.
#pragma once

#include <QString>

#include "results/record_history.h"
#include "results/result_record.h"

// `backupFolder` is where the stored files of picture attachments lie; each picture is read
// from there (never through a link) and shown inline, at most 240 pixels wide.
// With `history`, a live record's earlier versions follow its fields, each with the place it
// was carved from (a live message's under the message).
QString recordPreviewHtml(const ResultRecord& record, const std::string& backupFolder = {},
                          const RecordHistory* history = nullptr);
