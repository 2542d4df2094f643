#include "driver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "container_header.h"
#include "raw_volume_name.h"

namespace {

constexpr size_t kChunkSize = kWorkBufferSize;

// Lent to the name scan first, then the one chunk the copy holds.
alignas(4096) char workBuffer[kWorkBufferSize];
VolumeDescriptor volume;
char composedName[kTextCapacity];

constexpr char kUsage[] =
    "Usage: raw2zel c vesk10_432x128x8x32f vesk10.zel\n"
    "       raw2zel d vesk10.zel vesk10a\n";
constexpr char kParseError[] = "Error: can't parse input filename\n";
constexpr char kDimensionsError[] = "Error: dimensions don't fit the container header\n";

// Reads until count bytes arrived or the input ended; -1 on a read error.
ssize_t readFull(int fd, char* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t got = read(fd, buffer + done, count - done);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

bool writeAll(int fd, const char* buffer, size_t count) {
  while (count > 0) {
    const ssize_t put = write(fd, buffer, count);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    buffer += put;
    count -= static_cast<size_t>(put);
  }
  return true;
}

bool writeAllParts(int fd, iovec* parts, int count) {
  while (count > 0) {
    ssize_t put = writev(fd, parts, count);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (; count > 0 && static_cast<size_t>(put) >= parts->iov_len; ++parts, --count) {
      put -= static_cast<ssize_t>(parts->iov_len);
    }
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + put;
      parts->iov_len -= static_cast<size_t>(put);
    }
  }
  return true;
}

// Standard output carries messages only, so its failures do not change the
// status: the conversion's own result is what the status reports.
void say(const char* text, size_t length) {
  writeAll(STDOUT_FILENO, text, length);
}

void printInfoLine(const char* name, const VolumeDescriptor& descriptor) {
  char tail[64 + kTextCapacity];
  const int length = std::snprintf(tail, sizeof tail, "\" W=%i H=%i Z=%i B=%s=%i\n", descriptor.w,
                                   descriptor.h, descriptor.z, descriptor.token, descriptor.code);
  if (length < 0 || static_cast<size_t>(length) >= sizeof tail) return;
  // The name is unbounded in unpack mode, so it is written from where it
  // stands rather than copied.
  char quote[] = "\"";
  iovec parts[] = {{quote, 1},
                   {const_cast<char*>(name), std::strlen(name)},
                   {tail, static_cast<size_t>(length)}};
  writeAllParts(STDOUT_FILENO, parts, 3);
}

// A closed standard descriptor would be handed to the input or output by
// open(), and messages meant for standard output would land in the output
// file. Fill the gaps with /dev/null first.
void reserveStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) < 0) return;
  }
}

// Creates the output without destroying the input: an existing file is
// truncated only after it is known not to be the input itself. Tells
// whether both are regular files, which the kernel can copy between.
int createOutput(const char* path, int input, bool& regularFiles) {
  const int output = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (output < 0) return -1;
  struct stat in;
  struct stat out;
  const bool statted = fstat(input, &in) == 0 && fstat(output, &out) == 0;
  const bool usable = statted && (in.st_dev != out.st_dev || in.st_ino != out.st_ino);
  // Devices and FIFOs cannot be truncated and need not be.
  if (!usable || (S_ISREG(out.st_mode) && out.st_size != 0 && ftruncate(output, 0) != 0)) {
    close(output);
    return -1;
  }
  regularFiles = S_ISREG(in.st_mode) && S_ISREG(out.st_mode);
  return output;
}

// Copies the input to its end after the `preloaded` bytes already in the
// work buffer. Each chunk is filled before it is written, so that writes
// after the first start on the output's chunk boundaries.
bool copySamples(int input, int output, size_t preloaded) {
  size_t filled = preloaded;
  for (;;) {
    const ssize_t got = readFull(input, workBuffer + filled, kChunkSize - filled);
    if (got < 0) return false;
    filled += static_cast<size_t>(got);
    if (filled > 0 && !writeAll(output, workBuffer, filled)) return false;
    if (filled < kChunkSize) return true;
    filled = 0;
  }
}

enum class KernelCopy { kDone, kFailed, kUnsupported };

// Lets the kernel move the samples from file to file. It streams them through
// its own 16-page pipe whatever the length asked for, so one long call holds
// no more than a chunk and saves the per-call set-up of many short ones.
KernelCopy copyInKernel(int input, int output) {
  constexpr size_t kLongestCall = size_t{1} << 30;
  for (bool first = true;; first = false) {
    const ssize_t copied = copy_file_range(input, nullptr, output, nullptr, kLongestCall, 0);
    if (copied > 0) continue;
    // Some files (in /proc, say) report no data to this call but do to
    // read(), so a first empty answer is left for read() to confirm.
    if (copied == 0) return first ? KernelCopy::kUnsupported : KernelCopy::kDone;
    if (errno == EINTR) continue;
    const bool unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                             errno == EOPNOTSUPP || errno == EBADF;
    return first && unsupported ? KernelCopy::kUnsupported : KernelCopy::kFailed;
  }
}

// Between regular files the kernel copies without a trip through this
// process; pipes, devices and file systems that cannot do that take the
// read/write loop, which ships the `preloaded` bytes with its first chunk.
bool copyVolume(int input, int output, bool regularFiles, size_t preloaded) {
  if (!regularFiles) return copySamples(input, output, preloaded);
  if (!writeAll(output, workBuffer, preloaded)) return false;
  switch (copyInKernel(input, output)) {
    case KernelCopy::kDone:
      return true;
    case KernelCopy::kFailed:
      return false;
    case KernelCopy::kUnsupported:
      break;
  }
  return copySamples(input, output, 0);
}

int finishCopy(int input, int output, bool regularFiles, size_t preloaded) {
  const bool copied = copyVolume(input, output, regularFiles, preloaded);
  close(input);
  const bool closed = close(output) == 0;
  return copied && closed ? kStatusSuccess : kStatusFailure;
}

int pack(int input, const char* inputPath, const char* outputPath) {
  if (!parseRawName(inputPath, workBuffer, volume)) {
    say(kParseError, sizeof kParseError - 1);
    return kStatusBadName;
  }
  if (!dimensionsFitHeader(volume)) {
    say(kDimensionsError, sizeof kDimensionsError - 1);
    return kStatusBadName;
  }
  bool regularFiles = false;
  const int output = createOutput(outputPath, input, regularFiles);
  if (output < 0) return kStatusFailure;
  volume.code = sampleCodeFromToken(volume.token);
  printInfoLine(volume.baseName, volume);
  // The header waits in the work buffer to go out ahead of the samples.
  encodeHeader(volume, reinterpret_cast<uint8_t*>(workBuffer));
  return finishCopy(input, output, regularFiles, kHeaderSize);
}

int unpack(int input, const char* baseName) {
  uint8_t header[kHeaderSize];
  if (readFull(input, reinterpret_cast<char*>(header), kHeaderSize) != kHeaderSize) {
    return kStatusShortContainer;
  }
  decodeHeader(header, volume);
  const char* token = sampleTokenFromCode(volume.code);
  std::strcpy(volume.token, token);
  const bool named = composeRawName(baseName, volume.w, volume.h, volume.z, token, composedName);
  printInfoLine(baseName, volume);
  if (!named) return kStatusFailure;
  bool regularFiles = false;
  const int output = createOutput(composedName, input, regularFiles);
  if (output < 0) return kStatusFailure;
  return finishCopy(input, output, regularFiles, 0);
}

}  // namespace

int runRaw2zel(int argc, const char* const* argv) {
  if (argc < 3) {
    say(kUsage, sizeof kUsage - 1);
    return kStatusFailure;
  }
  reserveStandardDescriptors();
  // A reader that closes standard output early must not stop a conversion
  // half way; a vanished reader of the output file shows as a write error.
  signal(SIGPIPE, SIG_IGN);
  const char* mode = argv[0];
  const int input = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (input < 0) return kStatusFailure;
  if (mode[0] == 'd') return unpack(input, argv[2]);
  return pack(input, argv[1], argv[2]);
}

int main(int argc, char** argv) {
  return runRaw2zel(argc - 1, argv + 1);
}
