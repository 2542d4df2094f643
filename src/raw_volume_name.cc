#include "raw_volume_name.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kSeparatorsReplaced = 3;

bool isWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Returns the digit's value in the given base, or -1 when it is none.
int digitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value < base ? value : -1;
}

void replaceLast(char* text, char from) {
  char* found = std::strrchr(text, from);
  if (found != nullptr) *found = ' ';
}

void replaceSeparators(char* text) {
  for (int i = 0; i < kSeparatorsReplaced; ++i) {
    char* found = std::strrchr(text, 'x');
    if (found == nullptr) break;
    *found = ' ';
  }
  replaceLast(text, '_');
}

const char* skipWhiteSpace(const char* cursor) {
  while (isWhiteSpace(*cursor))
    ++cursor;
  return cursor;
}

// Reads a run of non-white-space characters into word; nullptr when there
// is none or it does not fit.
const char* scanWord(const char* cursor, char word[kTextCapacity]) {
  cursor = skipWhiteSpace(cursor);
  size_t length = 0;
  while (cursor[length] != '\0' && !isWhiteSpace(cursor[length]))
    ++length;
  if (length == 0 || length >= kTextCapacity) return nullptr;
  std::memcpy(word, cursor, length);
  word[length] = '\0';
  return cursor + length;
}

// Reads an integer with optional sign and C-style base prefix (0x for
// hexadecimal, 0 for octal); stops at the first character that cannot
// continue it. nullptr when no digit follows the sign or prefix, or the
// value leaves the signed 32-bit range.
const char* scanInteger(const char* cursor, int32_t& value) {
  cursor = skipWhiteSpace(cursor);
  const bool negative = *cursor == '-';
  if (*cursor == '-' || *cursor == '+') ++cursor;
  int base = 10;
  if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
    base = 16;
    cursor += 2;
  } else if (cursor[0] == '0') {
    base = 8;
  }
  const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : INT32_MAX;
  int64_t magnitude = 0;
  const char* digits = cursor;
  for (int digit; (digit = digitValue(*cursor, base)) >= 0; ++cursor) {
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return nullptr;
  }
  if (cursor == digits) return nullptr;
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return cursor;
}

}  // namespace

bool parseRawName(const char* path, char workBuffer[kWorkBufferSize],
                  VolumeDescriptor& descriptor) {
  const size_t length = strnlen(path, kWorkBufferSize);
  if (length >= kWorkBufferSize) return false;
  std::memcpy(workBuffer, path, length + 1);
  replaceSeparators(workBuffer);

  const char* cursor = scanWord(workBuffer, descriptor.baseName);
  if (cursor != nullptr) cursor = scanInteger(cursor, descriptor.w);
  if (cursor != nullptr) cursor = scanInteger(cursor, descriptor.h);
  if (cursor != nullptr) cursor = scanInteger(cursor, descriptor.z);
  if (cursor != nullptr) cursor = scanWord(cursor, descriptor.token);
  return cursor != nullptr;
}

bool composeRawName(const char* base, int32_t w, int32_t h, int32_t z, const char* token,
                    char name[kTextCapacity]) {
  const int length = std::snprintf(name, kTextCapacity, "%s_%ix%ix%ix%s", base, w, h, z, token);
  return length >= 0 && length < kTextCapacity;
}
