// The memo's line breaks and the compact store of the log's lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/controls.h"

namespace mvx {
namespace {

TEST(LineStoreTest, LinesAcrossBlocksStayWholeAndAClearGivesEverythingBack) {
  LineStore store;
  std::vector<std::string> written;
  // Lines of about 4 KB over three blocks, an empty line, and one line longer
  // than a block.
  for (int i = 0; i < 1600; ++i)
    written.push_back(
        std::string(4000 + static_cast<std::size_t>(i % 7), static_cast<char>('a' + i % 26)));
  written.insert(written.begin() + 300, "");
  written.insert(written.begin() + 500, std::string(kLargeBlockGrain + 5, 'L'));
  std::size_t bytes = 0;
  for (const std::string& line : written) {
    store.Append(line);
    bytes += line.size();
  }
  ASSERT_EQ(store.Count(), written.size());
  EXPECT_EQ(store.Bytes(), bytes);
  EXPECT_EQ(store.Copy(), written);
  EXPECT_EQ(store.Joined("\n").size(), bytes + written.size());
  store.Clear();
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_EQ(store.Bytes(), 0u);
  store.Append("again");
  EXPECT_EQ(store.Copy(), std::vector<std::string>{"again"});
}

TEST(MemoTest, EveryKindOfBreakSplitsOnceAndListenersHearInOrder) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {""}},
      {"one", {"one"}},
      {"a\r\nb", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\rb\n", {"a", "", "b", ""}},
      {"\r\n\r\n", {"", "", ""}},
      // Many lines whose breaks are all CR: each is found once.
      {std::string("x\ry\rz"), {"x", "y", "z"}},
  };
  for (const Case& c : cases) {
    TMemo memo;
    MemoRecorder first(memo);
    std::vector<std::string> order;
    auto second = memo.Listen({[&](std::string_view line) { order.emplace_back(line); }, nullptr});
    memo.Add(c.text);
    EXPECT_EQ(first.Lines().Copy(), c.lines) << c.text;
    EXPECT_EQ(order, c.lines) << c.text;
  }
}

}  // namespace
}  // namespace mvx
