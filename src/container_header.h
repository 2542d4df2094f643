// The container header: six bytes that record a volume's dimensions and
// sample type ahead of its samples, and the table of sample types.
#pragma once

#include <cstdint>

// Every text the program scans or builds lives in storage of this size.
constexpr int kTextCapacity = 256;
constexpr int kHeaderSize = 6;

// The largest dimensions the header can record.
constexpr int32_t kMaxHeaderWidth = 0xFFFF;
constexpr int32_t kMaxHeaderHeight = 0xFFFF;
constexpr int32_t kMaxHeaderDepth = 0xFF;

struct VolumeDescriptor {
  char baseName[kTextCapacity];
  int32_t w;
  int32_t h;
  int32_t z;
  char token[kTextCapacity];
  int8_t code;
};

struct SampleType {
  const char* token;
  int8_t code;
};

constexpr SampleType kSampleTypes[] = {{"16u", 16}, {"16s", -16}, {"32f", 32}};
constexpr int8_t kUnknownSampleCode = 0;
constexpr const char* kUnknownSampleToken = "XXX";

int8_t sampleCodeFromToken(const char* token);
const char* sampleTokenFromCode(int8_t code);

// Stores the low-order bits of each field; callers that must not lose
// information check dimensionsFitHeader first.
void encodeHeader(const VolumeDescriptor& descriptor, uint8_t bytes[kHeaderSize]);
void decodeHeader(const uint8_t bytes[kHeaderSize], VolumeDescriptor& descriptor);

bool dimensionsFitHeader(const VolumeDescriptor& descriptor);
