// The layouts of the note store's records as the deleted-notes carver reads them: where a
// note record (ZNOTE) or a body record (ZNOTEBODY) that passed its signature keeps the
// columns the carver takes, and the byte probes that tell the layouts' variants apart.
//
// Each layout takes the offset of its signature's match and the end of the match's page;
// no field is read past that end.
#pragma once

#include <cstdint>
#include <memory>

#include "carve/carve_primitives.h"
#include "carve/database_image.h"
#include "extract/item_records.h"

namespace carve {

// A note record of the write-ahead branch before iOS 7, whose signature matched at `l`.
std::shared_ptr<MzNoteNode> noteBeforeIOS7(const DatabaseImage& file, std::int64_t l,
                                           std::int64_t end, FieldBuffer& field, bool bodiless);
// A note record of the write-ahead branch on iOS 7, whose signature matched at `l`.
std::shared_ptr<MzNoteNode> noteOfIOS7(const DatabaseImage& file, std::int64_t l, std::int64_t end,
                                       FieldBuffer& field, bool bodiless);
// A note record of the rollback-journal branch, whose signature matched at `i`.
std::shared_ptr<MzNoteNode> noteOfRollbackFile(const DatabaseImage& file, std::int64_t i,
                                               std::int64_t end, FieldBuffer& field, bool bodiless);
// A body record whose signature matched at `i`; none when its serial types are not those of
// a ZNOTEBODY row or its owner id is out of the range its size is written for.
std::shared_ptr<MzNoteValueNode> bodyAt(const DatabaseImage& file, std::int64_t i, std::int64_t end,
                                        FieldBuffer& field, bool bodiless);

}  // namespace carve

// ---- Byte probes of the note layouts (each reads the bytes at `offset`) --------------------

// 19 when the byte is 0x00, else 15.
int CheckTitlePostion(const DatabaseImage& file, std::int64_t offset);
// With 19: 1 when the byte is not 0x03 and the byte after it is not 0x01, else 0. With 15:
// the distance from `offset` to the first 0x00 byte at or after it. Other values: 0.
std::int64_t checkTitleAlterable(const DatabaseImage& file, std::int64_t offset, int postion);
// With version 0: 0 when the byte is 0x03, else the distance to the next 0x03 byte after
// `offset`. Other versions: 0.
std::int64_t CheckAlterSummary(const DatabaseImage& file, std::int64_t offset, int version);
// The version form of bIsAlterbleDBFile: with version 1, 0 when the byte is 0x03, else the
// distance to the next 0x03 byte; with version 0 the same for 0x00. Other versions: 0.
std::int64_t bIsAlterbleDBFileVersion(const DatabaseImage& file, std::int64_t offset, int version);
// 1 when the byte value is 121 to 136, else 0.
int bIsbSummeryChanged(const DatabaseImage& file, std::int64_t offset);
int bIsbTitleChanged(const DatabaseImage& file, std::int64_t offset);
// True when the byte at offset + 3 is 0x10 or more and the byte at offset + 4 or at
// offset + 5 is 0x00.
bool CheckNoteBodyMark(const DatabaseImage& file, std::int64_t offset);

// The distance probes above look no further than this many bytes: every caller only tells
// 0, 1 and 2 apart from "more", and a bound keeps a page without the sought byte from
// costing a walk to the end of the file for every candidate. A byte not found within the
// bound gives kProbeReach + 1.
inline constexpr std::int64_t kProbeReach = 64;
