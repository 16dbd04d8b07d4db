// The pipe's place on POSIX systems, for vesk1_pipe's platform layer and the client's POSIX
// transport alike (POSIX only): the private socket directory of the effective user, made when
// missing and checked before every use. These are system calls, so only those two files may
// include this header; both must apply the same checks, which is why they share one copy.
#ifndef VESK1_COMMON_PIPE_PLACE_POSIX_H
#define VESK1_COMMON_PIPE_PLACE_POSIX_H

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/pipe_name.h"

namespace vesk1::pipe_name {

// This process's socket directory: "${TMPDIR:-/tmp}/vesk1-<euid>".
inline std::string DefaultSocketDirectory() {
  return SocketDirectory(std::getenv("TMPDIR"), static_cast<unsigned long>(::geteuid()));
}

// Makes the socket directory with mode 0700 when it is missing, then checks what is there
// without following a symbolic link. Returns 0 when it may be used, otherwise the system's
// code: that of a failed mkdir or lstat, or, with `problem` saying what is wrong, ENOTDIR for
// something that is not a directory and EACCES for a directory of another user or one open to
// group or others.
inline int PreparePrivateDirectory(const std::string& directory, std::string& problem) {
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  struct stat info {};
  if (::lstat(directory.c_str(), &info) != 0) return errno;
  const auto user = static_cast<unsigned long>(::geteuid());
  const auto owner = static_cast<unsigned long>(info.st_uid);
  const auto mode = static_cast<unsigned long>(info.st_mode & 07777);
  const DirectoryProblem verdict = CheckSocketDirectory(S_ISDIR(info.st_mode), owner, mode, user);
  if (verdict == DirectoryProblem::kNone) return 0;
  problem = DescribeDirectoryProblem(verdict, directory, owner, mode, user);
  return verdict == DirectoryProblem::kNotADirectory ? ENOTDIR : EACCES;
}

}  // namespace vesk1::pipe_name

#endif  // VESK1_COMMON_PIPE_PLACE_POSIX_H
