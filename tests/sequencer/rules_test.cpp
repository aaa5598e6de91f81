// The identification rules that read best alone: the clock value, the serial
// answer's items, the sub-code ranges and the model table's verdicts.
#include <gtest/gtest.h>

#include "sequencer/device_text.h"
#include "sequencer/model_table.h"

namespace mvx {
namespace {

TEST(ClockSecondsTest, WholeSecondsFrom2001) {
  struct Case {
    LocalTime now;
    long long seconds;
  };
  const Case cases[] = {
      {{2001, 1, 1, 0, 0, 0, 0}, 0},
      {{2001, 1, 2, 0, 0, 0, 0}, 86400},
      {{2001, 1, 1, 23, 59, 59, 999}, 86399},
      {{2001, 1, 1, 0, 0, 10, 0}, 10},
      {{2001, 3, 1, 0, 0, 0, 0}, 5097600},
      {{2024, 2, 29, 12, 34, 56, 789}, 730902896},
      {{2026, 12, 8, 9, 0, 0, 0}, 818413200},
      // Before 2001 the distance counts, truncated toward zero.
      {{2000, 12, 31, 23, 59, 59, 500}, 0},
      {{2000, 12, 31, 0, 0, 0, 0}, 86400},
      {{1999, 12, 31, 23, 59, 59, 999}, 31622400},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClockSeconds(c.now), c.seconds)
        << c.now.year << "-" << c.now.month << "-" << c.now.day << " " << c.now.hour << ":"
        << c.now.minute << ":" << c.now.second << "." << c.now.millisecond;
}

TEST(ClockSecondsTest, EveryWholeSecondOfADayComesOutExact) {
  // Late dates are where a day-fraction sum loses the last second.
  for (int s = 0; s < 86400; s += 7) {
    const LocalTime now{2026, 12, 8, s / 3600, s / 60 % 60, s % 60, 0};
    ASSERT_EQ(ClockSeconds(now), 818380800LL + s) << s;
  }
}

TEST(SplitItemsTest, SerialAnswers) {
  using Items = std::vector<std::string>;
  struct Case {
    std::string text;
    Items items;
  };
  const Case cases[] = {
      {"OK 12 34 ABCDE12345", {"OK", "12", "34", "ABCDE12345"}},
      {"OK ABCDE12345", {"OK", "ABCDE12345"}},
      {"  \t\r\nOK\tX", {"OK", "X"}},
      {"OK,A,B", {"OK", "A", "B"}},
      {"OK , A ,  B", {"OK", "A", "B"}},
      {"OK,,B", {"OK", "", "B"}},
      {",A", {"", "A"}},
      {"OK A,", {"OK", "A"}},
      {"OK \"A B,C\" D", {"OK", "A B,C", "D"}},
      {"OK \"AB\"CD", {"OK", "AB", "CD"}},
      {"OK \"unterminated item", {"OK", "unterminated item"}},
      {"OK \"\"", {"OK", ""}},
      {"", {}},
      {" \x01\x1f ", {}},
      // Bytes above 127 are ordinary item characters.
      {"OK \x82\xa0\x82\xa2", {"OK", "\x82\xa0\x82\xa2"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitItems(c.text), c.items) << c.text;
}

TEST(SplitItemsTest, ZeroByteEndsTheText) {
  const std::string padded("OK A B\0\0\0 C D", 13);
  EXPECT_EQ(SplitItems(padded), (std::vector<std::string>{"OK", "A", "B"}));
  const std::string only_zeros(16, '\0');
  EXPECT_TRUE(SplitItems(only_zeros).empty());
}

TEST(SubCodeInTest, ComparesAsText) {
  struct Case {
    std::string code;
    bool in_020_999;
  };
  const Case cases[] =
      {
          {"020", true},  {"025", true}, {"999", true},  {"019", false},
          {"", false},    {"02", false}, {"0200", true}, {"9990", false},
          {"A00", false}, {"1", true},   {"20", true},  // "2" sorts after "0": longer numbers are
                                                        // not read as numbers
      };
  for (const Case& c : cases) EXPECT_EQ(SubCodeIn(c.code, "020", "999"), c.in_020_999) << c.code;
}

TEST(ModelTableTest, NamesMatchExactly) {
  EXPECT_NE(FindModel("TV004"), nullptr);
  EXPECT_NE(FindModel("TV005 KORVEL_SPECIAL"), nullptr);
  EXPECT_NE(FindModel("3T"), nullptr);
  for (const char* name : {"tv004", "TV004 ", " TV004", "TV004SAR", "3t", "TV006", ""})
    EXPECT_EQ(FindModel(name), nullptr) << name;
}

TEST(ModelTableTest, Verdicts) {
  using V = ModelVerdict;
  struct Case {
    const char* model;
    const char* code;
    const char* type;
    const char* number;
    bool cross;
    V verdict;
  };
  const Case cases[] = {
      {"TV004", "", "201", "030", false, V::Accepted},
      {"TV004", "SAR", "201", "030", false, V::SpecialCodeMismatch},
      {"TV004", "SAR", "201", "030", true, V::AcceptedBySpecialCode},
      {"TV004", "SDF", "201", "030", true, V::AcceptedBySpecialCode},
      {"TV004", "KS", "201", "030", true, V::SpecialCodeMismatch},
      {"TV004 RX", "", "201", "001", false, V::Accepted},
      {"TV004 RX", "SAR", "201", "030", true, V::SpecialCodeMismatch},
      {"TV004 SAR", "", "201", "030", false, V::ModelMismatch},
      {"TV004 SAR", "", "201", "030", true, V::Accepted},
      {"TV004 SAR", "", "211", "030", false, V::Accepted},
      {"TV004 SAR", "", "212", "030", false, V::Accepted},
      {"TV004 SAR", "SAR", "201", "030", false, V::AcceptedBySpecialCode},
      {"TV004 SAR", "SDF", "201", "030", true, V::SpecialCodeMismatch},
      {"TV004 SAR", "sar", "201", "030", true, V::SpecialCodeMismatch},
      {"TV004 SDF", "", "211", "030", false, V::ModelMismatch},
      {"TV004 SDF", "", "201", "030", true, V::Accepted},
      {"TV004 SDF", "SDF", "201", "030", false, V::AcceptedBySpecialCode},
      {"TV004 SDF", "SAR", "201", "030", true, V::SpecialCodeMismatch},
      {"TV005 PRO", "", "201", "021", false, V::VersionMismatch},
      {"TV005 PRO", "", "201", "022", false, V::Accepted},
      {"TV005 PRO", "", "201", "1", false, V::Accepted},  // "1" sorts after "022"
      {"TV005 PRO", "", "201", "", false, V::VersionMismatch},
      {"TV005 BASIC", "", "201", "021", true, V::VersionMismatch},
      {"TV005 BASIC", "", "201", "022", false, V::Accepted},
      {"TV005 BASIC", "KS", "201", "010", false, V::SpecialCodeMismatch},
      {"TV005 BASIC", "KS", "201", "010", true, V::AcceptedBySpecialCode},
      {"PX001", "", "201", "020", false, V::VersionMismatch},
      {"PX001", "", "201", "021", false, V::Accepted},
      {"PX001", "SDF", "201", "010", false, V::SpecialCodeMismatch},
      {"PX001", "SDF", "201", "010", true, V::AcceptedBySpecialCode},
      {"PX001 SDF", "", "201", "030", true, V::ModelMismatch},
      {"PX001 SDF", "SDF", "201", "030", false, V::AcceptedBySpecialCode},
      {"TV005 KORVEL_SPECIAL", "", "201", "030", true, V::ModelMismatch},
      {"TV005 KORVEL_SPECIAL", "KS", "201", "030", false, V::AcceptedBySpecialCode},
      {"TV005 KORVEL_SPECIAL", "SDF", "201", "030", true, V::SpecialCodeMismatch},
      {"3T", "", "201", "001", false, V::Accepted},
      {"3T", "SAR", "201", "030", true, V::SpecialCodeMismatch},
  };
  for (const Case& c : cases) {
    const ModelRow* row = FindModel(c.model);
    ASSERT_NE(row, nullptr) << c.model;
    EXPECT_EQ(JudgeModel(*row, PackageFacts{c.code, c.type, c.number}, c.cross), c.verdict)
        << c.model << " code[" << c.code << "] type " << c.type << " number " << c.number
        << (c.cross ? " cross" : "");
  }
}

}  // namespace
}  // namespace mvx
