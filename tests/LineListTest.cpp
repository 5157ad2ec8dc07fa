// The lists that keep Messages Center lines: what goes in comes back, line by
// line and in order, empty lines and bytes outside ASCII included.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "batch/LineList.h"

namespace {

TEST(LineList, GivesBackEachLineAsItWasAddedWhateverItHolds) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {""},
      {"", "", ""},
      {"Processing file \"a.avi\"", "", "Done."},
      {"Donn\xC3\xA9"
       "es corrompues \xE2\x80\x94 \xC3\xA0 00:01:23",
       std::string("a\0b", 3), "x"},
      // Lines past the end of a block, and one longer than a block.
      std::vector<std::string>(3000, std::string(50, 'b')),
      {"short", std::string(200000, 'L'), "after", std::string(70000, 'M')},
  };
  for (const auto& lines : cases) {
    VEKRiff::LineList list;
    for (const std::string& line : lines) list.push_back(line);
    ASSERT_EQ(list.size(), lines.size());
    EXPECT_EQ(list.empty(), lines.empty());
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(list[i], lines[i]) << i;
    EXPECT_TRUE(std::equal(list.begin(), list.end(), lines.begin(), lines.end()));
    EXPECT_EQ(std::count(list.begin(), list.end(), ""), std::count(lines.begin(), lines.end(), ""));
    VEKRiff::LineList copy = list;
    copy.push_back("more");
    EXPECT_EQ(list.size(), lines.size()) << "a copy is a list of its own";
    EXPECT_EQ(copy.back(), "more");
    // Cleared, it takes new lines into the room the old ones had, and a
    // list it was moved from starts again empty.
    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.begin(), list.end());
    std::vector<std::string> again;
    for (std::size_t i = 0; i < lines.size() + 2; ++i)
      again.push_back(std::to_string(i) + "-" + std::string(i % 97, 'z'));
    for (const std::string& line : again) list.push_back(line);
    EXPECT_TRUE(std::equal(list.begin(), list.end(), again.begin(), again.end()));
    EXPECT_EQ(copy.size(), lines.size() + 1) << "the copy keeps its own lines";
    if (!lines.empty()) EXPECT_EQ(copy[0], lines[0]);
    VEKRiff::LineList moved = std::move(list);
    EXPECT_TRUE(std::equal(moved.begin(), moved.end(), again.begin(), again.end()));
    list.push_back("new");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], "new");
  }
}

TEST(LineList, ALineSharedWithAnotherListStaysWhatItWasWhateverTheFirstListDoesNext) {
  // What the first list does after the second took its lines: a row's list
  // and the view share the lines of the whole list, which a new run clears.
  enum Then { GoesOn, Cleared, ClearedTwice, Moved, Destroyed };
  for (const Then then : {GoesOn, Cleared, ClearedTwice, Moved, Destroyed}) {
    SCOPED_TRACE(static_cast<int>(then));
    auto all = std::make_unique<VEKRiff::LineList>();
    VEKRiff::LineList row, view;
    std::vector<std::string> expected;
    for (int i = 0; i < 5000; ++i) {
      expected.push_back("line " + std::to_string(i) + std::string(i % 50, '.'));
      all->push_back(expected.back());
      if (i % 3 != 0) {
        row.push_back_last_of(*all);
        view.push_back_last_of(row);  // a line the row itself borrowed
      }
    }
    std::vector<std::string> kept;
    for (int i = 0; i < 5000; ++i)
      if (i % 3 != 0) kept.push_back(expected[i]);
    switch (then) {
      case GoesOn:
        for (int i = 0; i < 3000; ++i) all->push_back(std::string(40, 'x'));
        break;
      case ClearedTwice:
        all->clear();
        [[fallthrough]];
      case Cleared:
        all->clear();
        for (int i = 0; i < 8000; ++i) all->push_back(std::string(60, 'y'));
        break;
      case Moved: {
        VEKRiff::LineList other = std::move(*all);
        other.clear();
        for (int i = 0; i < 8000; ++i) other.push_back(std::string(60, 'z'));
        break;
      }
      case Destroyed:
        all.reset();
        break;
    }
    EXPECT_TRUE(std::equal(row.begin(), row.end(), kept.begin(), kept.end()));
    EXPECT_TRUE(std::equal(view.begin(), view.end(), kept.begin(), kept.end()));
    if (then == GoesOn) EXPECT_EQ(all->size(), 8000u);
  }
}

}  // namespace
