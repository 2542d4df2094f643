// The raw-volume naming convention NAME_WxHxZxTYPE, scanned and composed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container_header.h"

// The scan works on a copy of the path in the caller's work buffer, which
// therefore bounds the path: at most kWorkBufferSize - 1 characters.
constexpr size_t kWorkBufferSize = 65536;

// Fills baseName, w, h, z and token; leaves code to the caller. Fails when
// fewer than five items convert, and when a path, word or number does not
// fit its storage.
bool parseRawName(const char* path, char workBuffer[kWorkBufferSize], VolumeDescriptor& descriptor);

// Writes BASE_WxHxZxTOKEN into name; fails when it would not fit.
bool composeRawName(const char* base, int32_t w, int32_t h, int32_t z, const char* token,
                    char name[kTextCapacity]);
