// Sorting the category tables by a clicked column.
//
// Three order switches are shared by all tables: one for names, one for sizes, one for
// call dates. Each sorting click flips its switch first and then sorts ascending when the
// switch is on, so the first click on a column kind sorts ascending and the next one
// descending. Clicks that do not sort leave the switches alone.
//
//   table            | column       | key
//   camera-roll media| "Name"       | fileNodeName without extension, as a decimal integer
//   camera-roll media| "Size"       | sizeFormString(fileNodeSize)
//   contacts         | any          | contactName, byte-wise text order
//   call history     | "Name"       | callName (none as ""), byte-wise text order
//   call history     | any other    | callDate in the order of time
//
// The tick-box column "bSelected" never sorts; neither do other tables and columns.
// Equal keys keep their previous order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "results/result_record.h"

// A size text ("12.50K") back to a byte count: the last character is the unit ("B" 1,
// "K" 1000, "M" 1000^2, "G" 1000^3, any other 1000^4) and the rest a decimal number; the
// product is truncated. Text without a number, a negative number and the empty text give
// 0; a product beyond the 64-bit range gives the largest count.
std::uint64_t sizeFormString(std::string_view text);

// The number a media file name stands for: the name without its extension read as a
// decimal integer the way the platform reads one (leading blanks, a sign, then digits up
// to the first other character; clamped to the 32-bit range). No number gives 0.
std::int64_t mediaNameNumber(std::string_view fileNodeName);

// A call date "MM-DD-YYYY HH:MM" (the time may be missing; "/" may separate the date) as a
// value that grows with time, or none when the text is not such a date.
std::optional<std::int64_t> callDateOrder(std::string_view callDate);

struct SortSwitches {
  bool bNameOrder = false;
  bool bSizeOrder = false;
  bool bDateOrder = false;
};

// Sorts `rows` of `category` by `column` as the table above says and returns true, or
// returns false (rows and switches untouched) when that column does not sort. Call dates
// that are not dates come before all dates in ascending order.
bool sortRowsByColumn(ResultRows& rows, ResultCategory category, std::string_view column,
                      SortSwitches& switches);
