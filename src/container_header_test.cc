#include "container_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

using Bytes = std::array<uint8_t, kHeaderSize>;

Bytes encode(int32_t w, int32_t h, int32_t z, int8_t code) {
  VolumeDescriptor descriptor{};
  descriptor.w = w;
  descriptor.h = h;
  descriptor.z = z;
  descriptor.code = code;
  Bytes bytes{};
  encodeHeader(descriptor, bytes.data());
  return bytes;
}

TEST(SampleType, TokenToCodeIsExactAndCaseSensitive) {
  const struct {
    const char* token;
    int8_t code;
  } cases[] = {{"16u", 16}, {"16s", -16}, {"32f", 32}, {"16U", 0}, {"32f.raw", 0},
               {"", 0},     {"XXX", 0},   {"32", 0},   {"u", 0},   {"16u ", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(sampleCodeFromToken(c.token), c.code) << c.token;
  }
}

TEST(SampleType, CodeToTokenFallsBackToXXX) {
  const struct {
    int8_t code;
    const char* token;
  } cases[] = {{16, "16u"}, {-16, "16s"},  {32, "32f"},  {0, "XXX"},
               {8, "XXX"},  {-128, "XXX"}, {127, "XXX"}, {-32, "XXX"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(sampleTokenFromCode(c.code), c.token) << int{c.code};
  }
}

TEST(ContainerHeader, EncodesLittleEndianFields) {
  EXPECT_EQ(encode(432, 128, 8, 32), (Bytes{0xB0, 0x01, 0x80, 0x00, 0x08, 0x20}));
  EXPECT_EQ(encode(65535, 65535, 255, -16), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}));
  EXPECT_EQ(encode(0, 0, 0, 0), (Bytes{0, 0, 0, 0, 0, 0}));
}

TEST(ContainerHeader, EncodingKeepsLowOrderBitsOfOversizedValues) {
  EXPECT_EQ(encode(65536, 1, 1, 16)[0], 0);
  EXPECT_EQ(encode(65537, 1, 1, 16)[0], 1);
  EXPECT_EQ(encode(-1, 1, 1, 16), (Bytes{0xFF, 0xFF, 1, 0, 1, 0x10}));
  EXPECT_EQ(encode(1, 1, 300, 16)[4], 44);
  EXPECT_EQ(encode(1, 1, 256, 16)[4], 0);
  EXPECT_EQ(encode(1, 1, -1, 16)[4], 0xFF);
}

TEST(ContainerHeader, DecodesUnsignedDimensionsAndSignedCode) {
  const struct {
    Bytes bytes;
    int32_t w, h, z;
    int8_t code;
    const char* token;
  } cases[] = {
      {{0xB0, 0x01, 0x80, 0x00, 0x08, 0x20}, 432, 128, 8, 32, "32f"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, 65535, 65535, 255, -16, "16s"},
      {{1, 0, 2, 0, 3, 0x10}, 1, 2, 3, 16, "16u"},
      {{0, 0, 0, 0, 0, 0x00}, 0, 0, 0, 0, "XXX"},
      {{0, 0, 0, 0, 0, 0x80}, 0, 0, 0, -128, "XXX"},
      {{0, 0, 0, 0, 0, 0x08}, 0, 0, 0, 8, "XXX"},
  };
  for (const auto& c : cases) {
    VolumeDescriptor descriptor{};
    decodeHeader(c.bytes.data(), descriptor);
    EXPECT_EQ(descriptor.w, c.w);
    EXPECT_EQ(descriptor.h, c.h);
    EXPECT_EQ(descriptor.z, c.z);
    EXPECT_EQ(descriptor.code, c.code);
    EXPECT_STREQ(sampleTokenFromCode(descriptor.code), c.token);
    EXPECT_EQ(encode(descriptor.w, descriptor.h, descriptor.z, descriptor.code), c.bytes);
  }
}

TEST(ContainerHeader, DimensionsFitOnlyWithinTheFieldWidths) {
  const struct {
    int32_t w, h, z;
    bool fits;
  } cases[] = {
      {0, 0, 0, true},          {65535, 65535, 255, true}, {65536, 1, 1, false},
      {1, 65536, 1, false},     {1, 1, 256, false},        {-1, 1, 1, false},
      {1, -1, 1, false},        {1, 1, -1, false},         {INT32_MIN, 1, 1, false},
      {1, 1, INT32_MAX, false},
  };
  for (const auto& c : cases) {
    VolumeDescriptor descriptor{};
    descriptor.w = c.w;
    descriptor.h = c.h;
    descriptor.z = c.z;
    EXPECT_EQ(dimensionsFitHeader(descriptor), c.fits) << c.w << " " << c.h << " " << c.z;
  }
}

}  // namespace
