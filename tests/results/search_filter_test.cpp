// The search field: which fields match, how the tables follow the text, and the hand-over
// from a running search to a newer one.
#include "results/search_filter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "base/main_thread.h"
#include "base/notification_center.h"
#include "results/fake_result_view.h"
#include "results/result_view_controller.h"

namespace {

// Remembers every row list the tables were given, not just the last.
class HistoryView : public FakeResultView {
 public:
  void setTableRows(ResultCategory c, const ResultRows& r) override {
    FakeResultView::setTableRows(c, r);
    history.push_back(r);
  }
  std::vector<ResultRows> history;
};

std::shared_ptr<MzCalenderNode> event(const std::string& title, const std::string& note,
                                      bool deleted = false) {
  auto e = std::make_shared<MzCalenderNode>();
  e->calTitle = title;
  e->calNote = note;
  e->bDeleted = deleted;
  return e;
}

std::shared_ptr<MzNoteNode> note(const std::string& title, const std::string& content) {
  auto n = std::make_shared<MzNoteNode>();
  n->noteTitle = title;
  n->noteContent = content;
  return n;
}

std::shared_ptr<MzMessageTreeNode> conversation(const std::string& name,
                                                const std::string& address) {
  auto c = std::make_shared<MzMessageTreeNode>();
  c->messageTreeNodeName = name;
  c->messageTreeNodeAdress = address;
  return c;
}

bool matches(const ResultRecord& r, const std::string& text) {
  return recordMatchesSearch(r, foldedSearchText(text));
}

// A gate that holds the first search thread that reaches it until it is opened.
class Gate {
 public:
  void hold() {
    std::unique_lock lock(m_);
    if (used_) return;
    used_ = true;
    reached_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return open_; });
  }
  void waitUntilReached() {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return reached_; });
  }
  void open() {
    std::lock_guard lock(m_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool used_ = false;
  bool reached_ = false;
  bool open_ = false;
};

// An event loop on the test's thread: work for the main thread is queued there and the
// poster waits, as in the desktop application.
class MainLoop {
 public:
  MainLoop() : main_(std::this_thread::get_id()) {
    setMainThreadExecutor([this](const std::function<void()>& fn) {
      if (std::this_thread::get_id() == main_) {
        fn();
        return;
      }
      std::promise<void> done;
      std::future<void> finished = done.get_future();
      {
        std::lock_guard lock(m_);
        queue_.emplace_back(&fn, &done);
        cv_.notify_all();
      }
      finished.wait();
    });
  }
  ~MainLoop() { setMainThreadExecutor({}); }

  // Runs queued work until `done` holds after a piece of work, or two seconds pass.
  bool runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
      std::unique_lock lock(m_);
      if (!cv_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) return false;
      auto [fn, promise] = queue_.front();
      queue_.pop_front();
      lock.unlock();
      (*fn)();
      promise->set_value();
      if (done()) return true;
    }
  }

 private:
  std::thread::id main_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::pair<const std::function<void()>*, std::promise<void>*>> queue_;
};

class SearchFilterTest : public testing::Test {
 protected:
  SearchFilterTest() : results(center, &view), filter(results) {
    joanna = contact("Joanna Berg", " +46 70 555 12 34");
    phoneAnn = contact("Lars Holm", " 555-ANN-01");
    company = contact("Erik Ek", " 08-555 321 00");
    company->contactCompany = "Annexet AB";
    results.contactArray = {joanna, phoneAnn, company};
  }

  ResultRows search(const std::string& text) {
    filter.controlTextDidChange(text);
    filter.waitForSearch();
    return results.shownRows();
  }

  NotificationCenter center;
  HistoryView view;
  MzResultViewController results;
  MzSearchFilter filter;
  std::shared_ptr<MzContactNode> joanna, phoneAnn, company;
};

TEST(SearchMatch, TwoFieldsIgnoringCaseAndNothingElse) {
  auto c = contact("Joanna", " 555-ANN");
  c->contactCompany = "Bonanza";
  c->contactNote = "nanna";
  EXPECT_TRUE(matches(c, "ann"));
  EXPECT_TRUE(matches(c, "JOANNA"));
  EXPECT_FALSE(matches(c, "bonanza"));  // company is not searched
  EXPECT_FALSE(matches(c, "nanna"));

  // An absent call name never matches; the phone still does.
  auto unknown = call("", "+46705551234", "01-02-2014 10:00");
  unknown->callName.reset();
  EXPECT_TRUE(matches(unknown, "5551"));
  EXPECT_FALSE(matches(unknown, "x"));
  EXPECT_TRUE(matches(call("Åsa Öberg", "1", "d"), "åSA öB"));

  EXPECT_TRUE(matches(note("Inköp", "MJÖLK och ägg"), "mjölk"));
  EXPECT_TRUE(matches(note("", "Ελληνικά ΣΟΦΊΑ"), "σοφία"));
  EXPECT_TRUE(matches(note("Привет", ""), "ПРИВЕТ"));
  EXPECT_TRUE(matches(event("MEETING", ""), "eeti"));
  EXPECT_TRUE(matches(event("", "bring BUNS"), "buns"));
  EXPECT_TRUE(matches(conversation("", "+46 70 555"), "70 5"));

  // No diacritic folding, and bytes that are not UTF-8 match only themselves.
  EXPECT_FALSE(matches(contact("Rene", ""), "René"));
  EXPECT_FALSE(matches(contact("René", ""), "rene"));
  EXPECT_TRUE(matches(contact("ab\xE9x", ""), "B\xE9X"));
  EXPECT_FALSE(matches(contact("ab\xE9x", ""), "abéx"));

  // Categories that are not searched never match.
  auto b = std::make_shared<MzBookMarkNode>();
  b->bookMarkTitle = "ann";
  EXPECT_FALSE(matches(b, "ann"));
  EXPECT_FALSE(matches(media("ann.jpg"), "ann"));
  EXPECT_FALSE(matches(std::shared_ptr<MzContactNode>(), "ann"));
}

TEST_F(SearchFilterTest, ContactsShowMatchesAndClearingReopens) {
  results.actContact();
  ResultRows shown = search("ann");
  EXPECT_EQ(shown, (ResultRows{joanna, phoneAnn}));
  EXPECT_EQ(results.searchArray, shown);
  EXPECT_EQ(view.rows, shown);
  EXPECT_EQ(view.highlighted, std::vector<std::size_t>{0});
  EXPECT_FALSE(filter.bSearchThreadStart);
  EXPECT_FALSE(filter.bSearchStop);

  EXPECT_EQ(search("zz"), ResultRows{});
  EXPECT_TRUE(view.highlighted.empty());

  EXPECT_EQ(search(""), (ResultRows{joanna, phoneAnn, company}));
  EXPECT_EQ(view.highlighted, std::vector<std::size_t>{0});
}

TEST_F(SearchFilterTest, ConversationsNotesAndCalls) {
  auto mum = conversation("Mamma", "+46 70 555 12 34");
  auto bank = conversation("", "SEB");
  results.messageTreeArray = {mum, bank};
  results.actMessage();
  EXPECT_EQ(search("seb"), ResultRows{bank});
  EXPECT_GE(view.chatPreviewClears, 1);
  EXPECT_EQ(search("nobody"), ResultRows{});  // the emptied list stays empty

  auto list = note("Shopping", "milk, EGGS");
  auto trip = note("Gotland", "ferry at 10:35");
  results.noteArray = {list, trip};
  results.actNote();
  EXPECT_EQ(search("eggs"), ResultRows{list});

  auto out = call("Anna", "+46705551234", "06-11-2013 08:30");
  auto in = call("", "0855512345", "06-12-2013 09:00");
  results.callHistoryArray = {out, in};
  results.actCallHistory();
  EXPECT_EQ(search("0855"), ResultRows{in});
  EXPECT_EQ(search(""), (ResultRows{out, in}));
}

TEST_F(SearchFilterTest, CalendarNarrowsTheRowsShown) {
  auto lab = event("Lab meeting", "");
  auto abby = event("Abby's birthday", "", true);
  auto ferry = event("Ferry", "Booking 7731-AB");
  auto dentist = event("Dentist", "bring a card");
  results.calenderArray = {lab, abby, ferry, dentist};
  results.actCalender();

  EXPECT_EQ(search("ab"), (ResultRows{lab, abby, ferry}));
  // Shortening the text searches what is shown, so "a" keeps to the rows of "ab".
  EXPECT_EQ(search("a"), (ResultRows{lab, abby, ferry}));
  EXPECT_EQ(search(""), (ResultRows{lab, abby, ferry, dentist}));

  // With the deleted-only switch on, only deleted events are searched.
  results.actCheck(true);
  EXPECT_EQ(search("a"), ResultRows{abby});
  EXPECT_EQ(search(""), (ResultRows{lab, abby, ferry, dentist}));
  EXPECT_FALSE(results.bOnlyDisplayDeleted);

  // The other categories search their whole list whatever is shown.
  results.actContact();
  search("joanna");
  EXPECT_EQ(search("ann"), (ResultRows{joanna, phoneAnn}));
}

TEST_F(SearchFilterTest, SocialMediaEmptiesOthersUnchanged) {
  auto f = std::make_shared<MzFaceTwitterNode>();
  f->faceTwitterFileName = "ann.jpg";
  results.faceTwitterArray = {f};
  results.actFaceTwitter();
  EXPECT_EQ(search("ann"), ResultRows{});
  EXPECT_EQ(search(""), ResultRows{f});

  auto b = std::make_shared<MzBookMarkNode>();
  b->bookMarkTitle = "Annons";
  results.bookMarkArray = {b};
  results.actBookMark();
  const std::size_t calls = view.history.size();
  EXPECT_EQ(search("zz"), ResultRows{b});
  EXPECT_EQ(search(""), ResultRows{b});
  EXPECT_EQ(view.history.size(), calls);  // the table was not touched

  // No search while a scan runs: the lists are being filed.
  results.actContact();
  results.prepareForScan();
  EXPECT_EQ(search("zz"), (ResultRows{joanna, phoneAnn, company}));
}

TEST_F(SearchFilterTest, NewestSearchWinsAndStaleOnesShowNothing) {
  results.actContact();
  Gate gate;
  filter.searchStepHook = [&gate](std::size_t) { gate.hold(); };
  filter.controlTextDidChange("ann");
  gate.waitUntilReached();  // the first search is walking
  EXPECT_TRUE(filter.bSearchThreadStart);
  const std::size_t before = view.history.size();
  filter.controlTextDidChange("erik");
  EXPECT_TRUE(filter.bSearchStop);
  gate.open();
  filter.waitForSearch();
  EXPECT_EQ(results.shownRows(), ResultRows{company});
  EXPECT_EQ(results.searchArray, ResultRows{company});
  // Between the two: the second search's emptying and its result, nothing of the first.
  ASSERT_EQ(view.history.size(), before + 2);
  EXPECT_EQ(view.history[before], ResultRows{});
  EXPECT_FALSE(filter.bSearchThreadStart);
  EXPECT_FALSE(filter.bSearchStop);
}

TEST_F(SearchFilterTest, ClearingOrLeavingDuringASearchDropsIt) {
  results.noteArray = {note("ann", "")};
  results.actContact();
  {
    Gate gate;
    filter.searchStepHook = [&gate](std::size_t) { gate.hold(); };
    filter.controlTextDidChange("ann");
    gate.waitUntilReached();
    filter.controlTextDidChange("");
    gate.open();
    filter.waitForSearch();
    EXPECT_EQ(results.shownRows(), (ResultRows{joanna, phoneAnn, company}));
  }
  {
    Gate gate;
    filter.searchStepHook = [&gate](std::size_t) { gate.hold(); };
    filter.controlTextDidChange("ann");
    gate.waitUntilReached();
    results.actNote();  // another category: the contacts' result is not shown there
    gate.open();
    filter.waitForSearch();
    EXPECT_EQ(results.currentCategory(), ResultCategory::Note);
    EXPECT_EQ(results.shownRows(), ResultRows{results.noteArray[0]});
  }
}

TEST_F(SearchFilterTest, WithAnEventLoopTheMainThreadNeverWaitsForASearch) {
  results.actContact();
  MainLoop loop;
  // The text changes while the first search waits for the main thread: nothing blocks.
  filter.controlTextDidChange("ann");
  filter.controlTextDidChange("jo");
  filter.controlTextDidChange("erik");
  EXPECT_TRUE(loop.runUntil(
      [this] { return results.searchArray == ResultRows{company} && !filter.bSearchThreadStart; }));
  EXPECT_EQ(results.shownRows(), ResultRows{company});
  filter.controlTextDidChange("");
  EXPECT_EQ(results.shownRows(), (ResultRows{joanna, phoneAnn, company}));
  filter.waitForSearch();  // the last search has nothing more for the loop
}

}  // namespace
