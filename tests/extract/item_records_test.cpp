#include "extract/item_records.h"

#include <gtest/gtest.h>

namespace {

TEST(ItemRecordsTest, FreshRecordsHoldTheirDefaults) {
  const MzContactNode contact;
  EXPECT_EQ(contact.rowid, -1);
  EXPECT_TRUE(contact.contactName.empty() && contact.contactPhone.empty() &&
              contact.contactEmail.empty() && contact.contactHomepage.empty() &&
              contact.contactCompany.empty() && contact.contactBirthday.empty() &&
              contact.contactJobtitle.empty() && contact.contactNote.empty() &&
              contact.contactAdress.empty());
  EXPECT_EQ(contact.imageData, nullptr);
  EXPECT_FALSE(contact.bDeleted || contact.bSelected);

  const MzMessageNode message;
  // The name is empty, not none, until a lookup finds no contact.
  ASSERT_TRUE(message.messageName.has_value());
  EXPECT_TRUE(message.messageName->empty());
  EXPECT_TRUE(message.messagePhone.empty() && message.messageContent.empty() &&
              message.messageDate.empty() && message.messageType.empty());
  EXPECT_FALSE(message.bImessage || message.bSelected || message.bDeleted || message.isHasAttach);
  EXPECT_EQ(message.handle_id, -1);
  EXPECT_EQ(message.rowId, -1);
  EXPECT_FALSE(message.attachmentPath.has_value());
  EXPECT_FALSE(message.attachType.has_value());
  EXPECT_EQ(message.contactImageData, nullptr);

  const MzMessageTreeNode tree;
  ASSERT_NE(tree.MessageNodeArray, nullptr);
  EXPECT_TRUE(tree.MessageNodeArray->empty());
  EXPECT_TRUE(tree.messageTreeNodeName.empty() && tree.messageTreeNodeAdress.empty());
  EXPECT_FALSE(tree.bSelected || tree.bdeleted);
  // Every conversation gets its own list.
  const MzMessageTreeNode other;
  EXPECT_NE(tree.MessageNodeArray, other.MessageNodeArray);

  const MzCallHistoryNode call;
  ASSERT_TRUE(call.callName.has_value());
  EXPECT_TRUE(call.callName->empty());
  EXPECT_TRUE(call.callPhone.empty() && call.callDate.empty() && call.callType.empty() &&
              call.callDuration.empty());
  EXPECT_EQ(call.callTime, -1);
  EXPECT_FALSE(call.bSelected || call.bDeleted);

  const MzNoteNode note;
  EXPECT_TRUE(note.noteTitle.empty() && note.noteContent.empty() && note.noteDate.empty());
  EXPECT_EQ(note.uid, -1);
  EXPECT_FALSE(note.bSelected || note.bDeleted);

  const MzBookMarkNode bookmark;
  EXPECT_TRUE(bookmark.bookMarkTitle.empty() && bookmark.bookMarkURL.empty());
  EXPECT_FALSE(bookmark.bSelected || bookmark.bDeleted);

  const MzCalenderNode event;
  EXPECT_TRUE(event.calTitle.empty() && event.calNote.empty() && event.location.empty() &&
              event.startDate.empty() && event.endDate.empty());
  EXPECT_FALSE(event.bSelected || event.bDeleted);

  const MzPhotoAndVideoNode photo;
  EXPECT_TRUE(photo.fileNodeName.empty() && photo.fileNodeSize.empty() && photo.filePath.empty());
  EXPECT_FALSE(photo.bmov || photo.bSelected);
  EXPECT_EQ(photo.fileSizeNumber, 0u);

  const MzFaceTwitterNode social;
  EXPECT_TRUE(social.faceTwitterFileName.empty() && social.faceTwitterFilePath.empty() &&
              social.fileSize.empty());
  EXPECT_FALSE(social.bSelected);
  EXPECT_EQ(social.FileSizeNumber, 0u);

  const MzContactImageNode image;
  EXPECT_EQ(image.rowid, -1);
  EXPECT_EQ(image.imageData, nullptr);

  const MzMessageAttachNode attach;
  EXPECT_EQ(attach.messageId, -1);
  EXPECT_EQ(attach.attachmentId, -1);
  EXPECT_FALSE(attach.attachpath.has_value() || attach.attachType.has_value());

  const MzChatMessageNode chat;
  EXPECT_EQ(chat.rowid, -1);
  EXPECT_TRUE(chat.phoneValue.empty());

  const MzNoteValueNode noteValue;
  EXPECT_TRUE(noteValue.noteValue.empty());
  EXPECT_EQ(noteValue.uid, -1);

  const DelContactValue value;
  EXPECT_TRUE(value.contactValue.empty());
  EXPECT_EQ(value.valueType, -1);
  EXPECT_EQ(value.rowID, -1);
  EXPECT_FALSE(value.bHasFind);
}

}  // namespace
