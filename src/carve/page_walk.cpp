#include "carve/page_walk.h"

#include "carve/carve_primitives.h"

std::int64_t carvePageSize(const DatabaseImage& image) {
  char hex[5] = {};
  const std::int64_t size = static_cast<std::int64_t>(
      carve::DemaNumberFormHexChar(carve::getHexString(image, 16, 2, hex), 4));
  return size == 1 ? 65536 : size;
}

CarveDatabase CarveDatabase::fromImage(DatabaseImage image) {
  CarveDatabase db;
  db.image = std::move(image);
  db.pageSize = carvePageSize(db.image);
  db.pageCount = db.pageSize > 0 ? db.image.size() / db.pageSize : 0;
  return db;
}

std::int64_t CarveDatabase::firstCellOffset(std::int64_t pageOffset) const {
  const std::int64_t pointer =
      (std::int64_t{image.at(pageOffset + 8)} << 8) | image.at(pageOffset + 9);
  return pageOffset + pointer;
}

bool CarveDatabase::isWalFile() const { return carve::checkSQliteVersion(image, 18); }

RecordOrigin CarveDatabase::originAt(std::int64_t offset, RecordOrigin::Place place) const {
  const std::int64_t page = pageSize > 0 && offset >= 0 ? offset / pageSize + 1 : 0;
  return RecordOrigin::carved(fileName, page, offset, place);
}
