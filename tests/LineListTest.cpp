// The lists that keep Messages Center lines: what goes in comes back, line by
// line and in order, empty lines and bytes outside ASCII included.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/LineList.h"

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

}  // namespace
