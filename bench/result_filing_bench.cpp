// Filing a scan's records into the results: 100000 live messages, then 20000 carved ones,
// a quarter of them copies of live messages (which the results drop). Prints the time the
// results controller takes for the carved ones and, as the reference measured in the same
// run, the time the duplicate test alone takes as a walk of the whole list per carved record
// (what the controller did before it kept the filed keys).
//
// Usage: result_filing_bench [LIVE [CARVED]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/notification_center.h"
#include "read_reference.h"
#include "results/deleted_record_filter.h"
#include "results/result_view_controller.h"

namespace {

std::shared_ptr<MzMessageNode> message(int i) {
  auto m = std::make_shared<MzMessageNode>();
  m->messagePhone = "+46705" + std::to_string(100000 + i % 3000);
  m->messageContent =
      "See you at " + std::to_string(i % 24) + " by the station, message " + std::to_string(i);
  m->messageDate = "06-03-2013 09:" + std::to_string(10 + i % 50);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const int live = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int carved = argc > 2 ? std::atoi(argv[2]) : 20000;
  std::vector<std::shared_ptr<MzMessageNode>> liveRecords, carvedRecords;
  for (int i = 0; i < live; ++i) liveRecords.push_back(message(i));
  for (int i = 0; i < carved; ++i) {
    carvedRecords.push_back(i % 4 == 0 ? message(i * 3 % live) : message(live + i));
  }

  NotificationCenter nc;
  MzResultViewController results(nc, nullptr);
  for (const auto& m : liveRecords) nc.post("ScanMessageInfo", std::make_shared<MzMessageNode>(*m));
  const auto t0 = std::chrono::steady_clock::now();
  for (const auto& m : carvedRecords) {
    nc.post("ScanDelMessageInfo", std::make_shared<MzMessageNode>(*m));
  }
  const double filing = bench::seconds(std::chrono::steady_clock::now() - t0);

  // The reference: the list walk per carved record over the same growing list.
  RecordList<MzMessageNode> filed(liveRecords.begin(), liveRecords.end());
  const auto t1 = std::chrono::steady_clock::now();
  int kept = 0;
  for (const auto& m : carvedRecords) {
    if (isDuplicateRecord(*m, filed)) continue;
    filed.push_back(m);
    ++kept;
  }
  const double walk = bench::seconds(std::chrono::steady_clock::now() - t1);

  std::printf("%d live, %d carved messages: %d deleted filed by the results (%d by the walk)\n",
              live, carved, results.delMessageNum, kept);
  std::printf("  results filing the carved ones: %.4f s\n", filing);
  std::printf("  duplicate test as a list walk:  %.4f s\n", walk);
  std::printf("  filing / walk:                  %.3f\n", filing / walk);
  return results.delMessageNum == kept ? 0 : 1;
}
