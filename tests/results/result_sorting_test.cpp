#include "results/result_sorting.h"

#include <gtest/gtest.h>

#include "fake_result_view.h"
#include "results/result_view_controller.h"

namespace {

TEST(ResultSorting, SizeTextsConvertBackToBytes) {
  EXPECT_EQ(sizeFormString("12.50K"), 12500u);
  EXPECT_EQ(sizeFormString("1.00G"), 1000000000u);
  EXPECT_EQ(sizeFormString("3.00T"), 3000000000000u);
  EXPECT_EQ(sizeFormString("999.00B"), 999u);
  EXPECT_EQ(sizeFormString("1.50M"), 1500000u);
  EXPECT_EQ(sizeFormString("2.00X"), 2000000000000u);  // any other unit counts as T
  EXPECT_EQ(sizeFormString(""), 0u);
  EXPECT_EQ(sizeFormString("K"), 0u);
  EXPECT_EQ(sizeFormString("abcK"), 0u);
  EXPECT_EQ(sizeFormString("-5.00K"), 0u);  // never a wrapped-around huge count
  EXPECT_EQ(sizeFormString("99999999999999999999T"), UINT64_MAX);
  EXPECT_EQ(MzResultViewController::sizeFormString("12.50K"), 12500u);
}

TEST(ResultSorting, MediaNamesReadAsNumbers) {
  EXPECT_EQ(mediaNameNumber("10.jpg"), 10);
  EXPECT_EQ(mediaNameNumber("00000005.jpg"), 5);
  EXPECT_EQ(mediaNameNumber("IMG_0001.JPG"), 0);
  EXPECT_EQ(mediaNameNumber("12abc.mov"), 12);
  EXPECT_EQ(mediaNameNumber("1.2.jpg"), 1);
  EXPECT_EQ(mediaNameNumber("99999999999.jpg"), INT32_MAX);
  EXPECT_EQ(mediaNameNumber(""), 0);
}

TEST(ResultSorting, CallDatesOrderByTime) {
  auto a = callDateOrder("12-31-2013 23:59");
  auto b = callDateOrder("01-01-2014 00:00");
  auto c = callDateOrder("01-01-2014 00:01");
  ASSERT_TRUE(a && b && c);
  EXPECT_LT(*a, *b);
  EXPECT_LT(*b, *c);
  EXPECT_EQ(callDateOrder("01/01/2014"), callDateOrder("01-01-2014 00:00"));
  EXPECT_FALSE(callDateOrder(""));
  EXPECT_FALSE(callDateOrder("13-01-2014 10:00"));
  EXPECT_FALSE(callDateOrder("01-01-2014 25:00"));
  EXPECT_FALSE(callDateOrder("01-01-201410:00"));
  EXPECT_FALSE(callDateOrder("yesterday"));
}

TEST(ResultSorting, SwitchesFlipPerKindAndDatelessCallsComeFirst) {
  SortSwitches switches;
  ResultRows rows = {media("b", "2.00M"), media("a", "12.50K"), media("c", "1.00G")};
  ASSERT_TRUE(sortRowsByColumn(rows, ResultCategory::Photo, "Size", switches));
  EXPECT_EQ(std::get<0>(rows[0])->fileNodeName, "a");
  EXPECT_EQ(std::get<0>(rows[2])->fileNodeName, "c");
  EXPECT_TRUE(switches.bSizeOrder);
  EXPECT_FALSE(switches.bNameOrder);

  ResultRows calls = {call("x", "1", "02-01-2014 10:00"), call("y", "2", "not a date"),
                      call("z", "3", "01-01-2014 10:00")};
  ASSERT_TRUE(sortRowsByColumn(calls, ResultCategory::CallHistory, "Date", switches));
  EXPECT_EQ(std::get<4>(calls[0])->callName, "y");
  EXPECT_EQ(std::get<4>(calls[1])->callName, "z");
  ASSERT_TRUE(sortRowsByColumn(calls, ResultCategory::CallHistory, "Date", switches));
  EXPECT_EQ(std::get<4>(calls[0])->callName, "x");
  EXPECT_EQ(std::get<4>(calls[2])->callName, "y");

  EXPECT_FALSE(sortRowsByColumn(calls, ResultCategory::Note, "Title", switches));
  EXPECT_FALSE(sortRowsByColumn(calls, ResultCategory::Contact, "bSelected", switches));
}

}  // namespace
