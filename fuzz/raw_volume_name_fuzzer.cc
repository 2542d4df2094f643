// Fuzzes the raw-volume name scan and checks properties, not just survival:
//  - results stay within their fixed storage, and a scan that succeeds gives
//    a base name and a token of at most 255 characters;
//  - the scan agrees with the C library's "%s %i %i %i %s" wherever the two
//    are defined to agree;
//  - scanning a composed name gives back the values it was composed from.
// A violated property aborts, so the fuzzer reports it as a crash.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container_header.h"
#include "raw_volume_name.h"

namespace {

char workBuffer[kWorkBufferSize];
char text[kWorkBufferSize + 1];
// sscanf's %s is unbounded, so its words get room for the whole text.
char referenceBase[kWorkBufferSize + 1];
char referenceToken[kWorkBufferSize + 1];

void check(bool property, const char* what) {
  if (property) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

bool isWhiteSpace(char c) {
  return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr;
}

bool isTerminatedWithin(const char* storage) {
  return std::memchr(storage, '\0', kTextCapacity) != nullptr;
}

// The name's text as the scan reads it: three rightmost "x" and the last "_"
// turned into spaces.
void replaceSeparators(char* name) {
  for (int i = 0; i < 3; ++i) {
    char* x = std::strrchr(name, 'x');
    if (x == nullptr) break;
    *x = ' ';
  }
  char* underscore = std::strrchr(name, '_');
  if (underscore != nullptr) *underscore = ' ';
}

const char* skipWhiteSpace(const char* p) {
  while (isWhiteSpace(*p))
    ++p;
  return p;
}

const char* skipWord(const char* p) {
  while (*p != '\0' && !isWhiteSpace(*p))
    ++p;
  return p;
}

// Where the C library's %i is undefined or deliberately differs from the
// scan (a value beyond 32 bits, or a "0x" that no hexadecimal digit follows),
// the two are not compared.
bool referenceIsDefined(const char* p) {
  p = skipWord(skipWhiteSpace(p));
  for (int item = 0; item < 3; ++item) {
    p = skipWhiteSpace(p);
    const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') &&
        std::strchr("0123456789abcdefABCDEF", digits[2]) == nullptr) {
      return false;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(p, &end, 0);
    if (end == p) return true;  // both stop converting here
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
    p = end;
  }
  return true;
}

void checkAgainstReference(const char* name, bool scanned, const VolumeDescriptor& descriptor) {
  std::memcpy(workBuffer, name, std::strlen(name) + 1);
  replaceSeparators(workBuffer);
  if (!referenceIsDefined(workBuffer)) return;
  int w = 0, h = 0, z = 0;
  const int items =
      std::sscanf(workBuffer, "%s %i %i %i %s", referenceBase, &w, &h, &z, referenceToken);
  const bool fits = items == 5 && std::strlen(referenceBase) < kTextCapacity &&
                    std::strlen(referenceToken) < kTextCapacity;
  check(scanned == fits, "scan succeeds exactly where sscanf converts five items that fit");
  if (!scanned) return;
  check(std::strcmp(descriptor.baseName, referenceBase) == 0, "base name as sscanf reads it");
  check(descriptor.w == w && descriptor.h == h && descriptor.z == z, "numbers as sscanf reads");
  check(std::strcmp(descriptor.token, referenceToken) == 0, "token as sscanf reads it");
}

bool isPlainWord(const char* word, const char* forbidden) {
  if (*word == '\0') return false;
  for (const char* p = word; *p != '\0'; ++p) {
    if (isWhiteSpace(*p) || std::strchr(forbidden, *p) != nullptr) return false;
  }
  return true;
}

// Uses the input as W, H and Z (five bytes), then a base name and a token
// separated by a NUL byte.
void checkRoundTrip(const uint8_t* data, size_t size) {
  if (size < 5 || size - 5 > kWorkBufferSize) return;
  const int32_t w = data[0] | data[1] << 8;
  const int32_t h = data[2] | data[3] << 8;
  const int32_t z = data[4];
  std::memcpy(text, data + 5, size - 5);
  text[size - 5] = '\0';
  const char* base = text;
  const size_t baseLength = std::strlen(base);
  const char* token = baseLength < size - 5 ? text + baseLength + 1 : "";
  if (!isPlainWord(base, "") || !isPlainWord(token, "x_")) return;

  char name[kTextCapacity];
  if (!composeRawName(base, w, h, z, token, name)) {
    check(baseLength + std::strlen(token) + 20 > kTextCapacity - 1, "short names compose");
    return;
  }
  VolumeDescriptor descriptor{};
  check(parseRawName(name, workBuffer, descriptor), "a composed name scans");
  check(std::strcmp(descriptor.baseName, base) == 0, "base name survives the round trip");
  check(descriptor.w == w && descriptor.h == h && descriptor.z == z, "dimensions survive");
  check(std::strcmp(descriptor.token, token) == 0, "token survives the round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t length = size < kWorkBufferSize ? size : kWorkBufferSize;
  std::memcpy(text, data, length);
  text[length] = '\0';

  VolumeDescriptor descriptor;
  std::memset(&descriptor, 0x5A, sizeof descriptor);
  const bool scanned = parseRawName(text, workBuffer, descriptor);
  if (scanned) {
    check(isTerminatedWithin(descriptor.baseName), "base name fits its storage");
    check(isTerminatedWithin(descriptor.token), "token fits its storage");
    check(std::strlen(text) < kWorkBufferSize, "over-long paths do not scan");
  }
  if (std::strlen(text) < kWorkBufferSize) checkAgainstReference(text, scanned, descriptor);
  checkRoundTrip(data, size);
  return 0;
}
