// The keyed-archive field reader on MBFile records as Manifest.db holds them: inline and
// referred values, the NSData of a file's key, and every cut and every changed byte of a
// record read without a fault.
#include "catalogue/keyed_archive_field.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// An MBFile archive: "Size" inline, "Mode" through a UID, "EncryptionKey" an NSMutableData.
Bytes mbFileArchive(std::uint64_t size, const Bytes& key) {
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t file = plist_new_dict();
  plist_dict_set_item(file, "Size", plist_new_uint(size));
  plist_dict_set_item(file, "Mode", plist_new_uid(2));
  plist_dict_set_item(file, "EncryptionKey", plist_new_uid(3));
  plist_array_append_item(objects, file);
  plist_array_append_item(objects, plist_new_uint(0100644));
  plist_t data = plist_new_dict();
  plist_dict_set_item(data, "NS.data",
                      plist_new_data(reinterpret_cast<const char*>(key.data()), key.size()));
  plist_array_append_item(objects, data);
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(1));
  plist_t archive = plist_new_dict();
  plist_dict_set_item(archive, "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_dict_set_item(archive, "$objects", objects);
  plist_dict_set_item(archive, "$top", top);
  char* bin = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(archive, &bin, &length);
  Bytes out(bin, bin + length);
  plist_to_bin_free(bin);
  plist_free(archive);
  return out;
}

TEST(KeyedArchiveField, ReadsInlineReferredAndDataFieldsAndSurvivesDamage) {
  const Bytes key(44, 0x5A);
  const Bytes archive = mbFileArchive(1234567, key);
  EXPECT_EQ(keyedArchiveInteger(archive, "Size"), 1234567u);
  EXPECT_EQ(keyedArchiveInteger(archive, "Mode"), 0100644u);
  EXPECT_EQ(keyedArchiveData(archive, "EncryptionKey"), key);
  EXPECT_FALSE(keyedArchiveInteger(archive, "EncryptionKey"));
  EXPECT_FALSE(keyedArchiveInteger(archive, "Missing"));
  // Cut anywhere, or any byte changed: an answer or none, never a read outside the bytes.
  for (std::size_t n = 0; n < archive.size(); ++n) {
    const Bytes cut(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(keyedArchiveInteger(cut, "Size"));
    Bytes changed = archive;
    changed[n] ^= 0xFF;
    (void)keyedArchiveInteger(changed, "Size");
    const auto data = keyedArchiveData(changed, "EncryptionKey");
    EXPECT_TRUE(!data || data->size() <= changed.size());
  }
}

}  // namespace
