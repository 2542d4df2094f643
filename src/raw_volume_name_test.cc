#include "raw_volume_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

char workBuffer[kWorkBufferSize];

struct ScanCase {
  std::string path;
  bool scans;
  const char* base = "";
  int32_t w = 0, h = 0, z = 0;
  const char* token = "";
};

void PrintTo(const ScanCase& c, std::ostream* out) {
  *out << '"' << c.path << '"';
}

class ScanTest : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, ScansAsDocumented) {
  const ScanCase& c = GetParam();
  VolumeDescriptor descriptor{};
  ASSERT_EQ(parseRawName(c.path.c_str(), workBuffer, descriptor), c.scans);
  if (!c.scans) return;
  EXPECT_STREQ(descriptor.baseName, c.base);
  EXPECT_EQ(descriptor.w, c.w);
  EXPECT_EQ(descriptor.h, c.h);
  EXPECT_EQ(descriptor.z, c.z);
  EXPECT_STREQ(descriptor.token, c.token);
}

const ScanCase kDocumentedNames[] = {
    {"vesk10_432x128x8x32f", true, "vesk10", 432, 128, 8, "32f"},
    {"data/set_one/vol_4x5x6x16u", true, "data/set_one/vol", 4, 5, 6, "16u"},
    {"box_4x5x6x16s", true, "box", 4, 5, 6, "16s"},
    {"vol_4x5x6x16u.raw", true, "vol", 4, 5, 6, "16u.raw"},
    {"vol_010x8x2x16u", true, "vol", 8, 8, 2, "16u"},
    {"vol_064x064x010x16u", true, "vol", 52, 52, 8, "16u"},
    {"vol_08x5x6x16u", true, "vol", 0, 8, 5, "6"},
    {"vol_0x10x8x2x16u", true, "vol", 16, 8, 2, "16u"},
    {"vol_4x0X1Fx6x16u", true, "vol", 4, 31, 6, "16u"},
    {"vol_0xx5x6x16u", false},
    {"vol_-4x5x6x16u", true, "vol", -4, 5, 6, "16u"},
    {"vol_+4x5x6x16u", true, "vol", 4, 5, 6, "16u"},
    {"vol_4x5x16u", true, "vol", 4, 5, 16, "u"},
    {"vol_4x5x6x16u_le", true, "vol_4", 5, 6, 16, "u"},
    {"vol4x5x6x16u", true, "vol4", 5, 6, 16, "u"},
    {"vol_4x5x6x", false},
    {"box/vol_4x5x16u", false},
    {"my_dir/vol4x5x6x16u", false},
    {"x", false},
    {"_", false},
    {"vol_4X5X6X16u", false},
    {"my data/vol_4x5x6x16u", false},
    {"vol", false},
    {"", false},
};
INSTANTIATE_TEST_SUITE_P(DocumentedNames, ScanTest, testing::ValuesIn(kDocumentedNames));

const ScanCase kNumbersAndWhiteSpace[] = {
    // Each of the six white-space characters separates words; others do not.
    {"a\tb_1x2x3x16u", false},
    {" \t\n\v\f\rvol_1x2x3x16u", true, "vol", 1, 2, 3, "16u"},
    {"vol_1x2x3x16u\r\n", true, "vol", 1, 2, 3, "16u"},
    {"v\xA0l_1x2x3x16u", true, "v\xA0l", 1, 2, 3, "16u"},
    // Signs and prefixes need a digit of their base after them.
    {"vol_-x2x3x16u", false},
    {"vol_+0x1fx2x3x16u", true, "vol", 31, 2, 3, "16u"},
    {"vol_-0x10x2x3x16u", true, "vol", -16, 2, 3, "16u"},
    {"vol_0Xgx2x3x16u", false},
    {"vol_0x2x3x16u", true, "vol", 0, 2, 3, "16u"},
    {"vol_0x0x0x0", true, "vol", 0, 0, 0, "0"},
    {"vol_--1x2x3x16u", false},
    {"vol_09x2x3x16u", true, "vol", 0, 9, 2, "3"},
    {"vol_0x1x2x3x32f", true, "vol", 1, 2, 3, "32f"},
    // The signed 32-bit range is accepted whole; one beyond it is not.
    {"vol_2147483647x2x3x16u", true, "vol", INT32_MAX, 2, 3, "16u"},
    {"vol_-2147483648x2x3x16u", true, "vol", INT32_MIN, 2, 3, "16u"},
    {"vol_0x7fffffffx2x3x16u", true, "vol", INT32_MAX, 2, 3, "16u"},
    {"vol_017777777777x2x3x16u", true, "vol", INT32_MAX, 2, 3, "16u"},
    {"vol_2147483648x2x3x16u", false},
    {"vol_-2147483649x2x3x16u", false},
    {"vol_0x80000000x2x3x16u", false},
    {"vol_4294967296x2x3x16u", false},
    {"vol_1x2x99999999999999999999x16u", false},
    // Leading zeros do not count toward the range.
    {"vol_0000000000000000000001x2x3x16u", true, "vol", 1, 2, 3, "16u"},
    // A digit string may end in a letter that starts the token.
    {"vol_1x2x3x4", true, "vol", 1, 2, 3, "4"},
    {"vol_1x2x3", false},
    // Two words before the numbers: the second is no number.
    {"a b_1x2x3x16u", false},
};
INSTANTIATE_TEST_SUITE_P(NumbersAndWhiteSpace, ScanTest, testing::ValuesIn(kNumbersAndWhiteSpace));

TEST(ScanLimits, WordsOfUpTo255CharactersFit) {
  VolumeDescriptor descriptor{};
  const std::string base(255, 'b');
  const std::string token(255, 't');
  ASSERT_TRUE(parseRawName((base + "_1x2x3x" + token).c_str(), workBuffer, descriptor));
  EXPECT_EQ(descriptor.baseName, base);
  EXPECT_EQ(descriptor.token, token);

  EXPECT_FALSE(parseRawName((base + "b_1x2x3x16u").c_str(), workBuffer, descriptor));
  EXPECT_FALSE(parseRawName(("vol_1x2x3x" + token + "t").c_str(), workBuffer, descriptor));
}

TEST(ScanLimits, PathsOfUpTo65535CharactersFit) {
  VolumeDescriptor descriptor{};
  const std::string name = "vol_1x2x3x16u";
  const std::string longest = std::string(65535 - name.size(), ' ') + name;
  EXPECT_TRUE(parseRawName(longest.c_str(), workBuffer, descriptor));
  EXPECT_FALSE(parseRawName((" " + longest).c_str(), workBuffer, descriptor));
}

TEST(ScanLimits, LeadingWhiteSpaceDoesNotCountTowardTheWord) {
  VolumeDescriptor descriptor{};
  const std::string base(255, 'b');
  EXPECT_TRUE(
      parseRawName((std::string(1000, ' ') + base + "_1x2x3x16u").c_str(), workBuffer, descriptor));
}

TEST(Compose, FillsTheConventionWithDecimalNumbers) {
  char name[kTextCapacity];
  ASSERT_TRUE(composeRawName("vesk10a", 432, 128, 8, "32f", name));
  EXPECT_STREQ(name, "vesk10a_432x128x8x32f");
  ASSERT_TRUE(composeRawName("vesk10a", 432, 128, 8, "XXX", name));
  EXPECT_STREQ(name, "vesk10a_432x128x8xXXX");
  ASSERT_TRUE(composeRawName("", 0, 0, 255, "16s", name));
  EXPECT_STREQ(name, "_0x0x255x16s");
}

TEST(Compose, RefusesNamesBeyond255Characters) {
  char name[kTextCapacity];
  // 20 characters follow the base at the most.
  EXPECT_TRUE(composeRawName(std::string(235, 'b').c_str(), 65535, 65535, 255, "16u", name));
  EXPECT_EQ(std::string(name).size(), 255u);
  EXPECT_TRUE(composeRawName(std::string(245, 'b').c_str(), 1, 1, 1, "16u", name));
  EXPECT_FALSE(composeRawName(std::string(246, 'b').c_str(), 1, 1, 1, "16u", name));
  EXPECT_FALSE(composeRawName(std::string(100000, 'b').c_str(), 1, 1, 1, "16u", name));
}

TEST(Compose, ScanningAComposedNameGivesItsValuesBack) {
  char name[kTextCapacity];
  VolumeDescriptor descriptor{};
  ASSERT_TRUE(composeRawName("dir_a/box", 65535, 0, 255, "16s", name));
  ASSERT_TRUE(parseRawName(name, workBuffer, descriptor));
  EXPECT_STREQ(descriptor.baseName, "dir_a/box");
  EXPECT_EQ(descriptor.w, 65535);
  EXPECT_EQ(descriptor.h, 0);
  EXPECT_EQ(descriptor.z, 255);
  EXPECT_STREQ(descriptor.token, "16s");
}

}  // namespace
