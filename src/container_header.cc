#include "container_header.h"

#include <cstring>

int8_t sampleCodeFromToken(const char* token) {
  for (const SampleType& type : kSampleTypes) {
    if (std::strcmp(token, type.token) == 0) return type.code;
  }
  return kUnknownSampleCode;
}

const char* sampleTokenFromCode(int8_t code) {
  for (const SampleType& type : kSampleTypes) {
    if (code == type.code) return type.token;
  }
  return kUnknownSampleToken;
}

void encodeHeader(const VolumeDescriptor& descriptor, uint8_t bytes[kHeaderSize]) {
  // Shift the unsigned forms: right shifts of negative values would depend
  // on the sign, and the header keeps two's-complement low bits.
  const auto w = static_cast<uint32_t>(descriptor.w);
  const auto h = static_cast<uint32_t>(descriptor.h);
  bytes[0] = static_cast<uint8_t>(w & 0xFF);
  bytes[1] = static_cast<uint8_t>((w >> 8) & 0xFF);
  bytes[2] = static_cast<uint8_t>(h & 0xFF);
  bytes[3] = static_cast<uint8_t>((h >> 8) & 0xFF);
  bytes[4] = static_cast<uint8_t>(static_cast<uint32_t>(descriptor.z) & 0xFF);
  bytes[5] = static_cast<uint8_t>(descriptor.code);
}

void decodeHeader(const uint8_t bytes[kHeaderSize], VolumeDescriptor& descriptor) {
  descriptor.w = bytes[0] + 256 * bytes[1];
  descriptor.h = bytes[2] + 256 * bytes[3];
  descriptor.z = bytes[4];
  descriptor.code = static_cast<int8_t>(bytes[5]);
}

bool dimensionsFitHeader(const VolumeDescriptor& descriptor) {
  return descriptor.w >= 0 && descriptor.w <= kMaxHeaderWidth && descriptor.h >= 0 &&
         descriptor.h <= kMaxHeaderHeight && descriptor.z >= 0 && descriptor.z <= kMaxHeaderDepth;
}
