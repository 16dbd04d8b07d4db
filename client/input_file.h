// The files a command line names (measured soundings, model files), read whole. Only regular
// files of a bounded size are read, so that a directory, a FIFO without a writer or a device
// given by mistake is refused at once instead of aborting, blocking or exhausting the client.
#ifndef VESK1_CLIENT_INPUT_FILE_H
#define VESK1_CLIENT_INPUT_FILE_H

#include <cstdint>
#include <string>

#include "mt/readers/readers.h"

namespace vesk1::client {

// The largest input file read: 256 MiB (--help says so).
inline constexpr std::uintmax_t kLargestInputFile = std::uintmax_t{256} << 20;

// Reads the file at `path` into `text`. False, with `error` "PATH: cannot read the file",
// "PATH: not a regular file (a directory)", "PATH: not a regular file" or "PATH: larger than
// 256 MiB", otherwise.
bool ReadInputFile(const std::string& path, std::string& text, std::string& error);

// The measured sounding in the file at `path` (ReadInputFile, then mt::ParseSounding).
mt::ReadResult ReadSoundingFile(const std::string& path, const mt::ReadOptions& options);

// Writes `text` to the file at `path` ("-": standard output). False, after printing
// "<program>: cannot write PATH" on standard error, when it could not.
bool WriteOutputFile(const std::string& path, const std::string& text, const char* program);

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_INPUT_FILE_H
