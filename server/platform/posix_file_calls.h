// The raw POSIX calls of the file functions in posix.cpp, in one table a test can swap to
// provoke what is hard to cause for real (a directory whose reading fails, a copy whose write
// stops half-way), as the pipe's calls are swapped through SystemCallTable. Only posix.cpp and
// the POSIX layer's tests include this.
#ifndef VESK1_SERVER_PLATFORM_POSIX_FILE_CALLS_H
#define VESK1_SERVER_PLATFORM_POSIX_FILE_CALLS_H

#include <dirent.h>
#include <sys/types.h>

namespace vesk1::platform {

struct PosixFileCalls {
  dirent* (*readDirectory)(DIR* directory);                     // readdir
  ssize_t (*write)(int file, const void* buffer, size_t size);  // write
};
PosixFileCalls& FileCallTable();
// The table as the system provides it, for restoring after a test.
PosixFileCalls DefaultFileCalls();

}  // namespace vesk1::platform

#endif  // VESK1_SERVER_PLATFORM_POSIX_FILE_CALLS_H
