// The pipe's name and place, for vesk1_pipe and its clients alike (internal, never installed).
//
// On Windows the pipe is "\\.\pipe\$VESK_PIPE<n>$", shared by the whole machine. On POSIX
// systems it is a Unix domain socket in a directory private to the user who runs the server,
// "${TMPDIR:-/tmp}/vesk1-<uid>/$VESK_PIPE<n>$", as tmux and ssh-agent place theirs: the
// directory has mode 0700 and is used only when it belongs to the effective user and is closed
// to group and others, so no other user can take the name first or answer in the server's
// place. Beside the socket lies its lock file, "$VESK_PIPE<n>$.lock": whoever holds an advisory
// lock on it owns the name, however the directory was spelled.
//
// Only text is composed here. The system calls that make and check the directory sit in
// pipe_place_posix.h, which only the server's platform layer and the client's transport include.
#ifndef VESK1_COMMON_PIPE_NAME_H
#define VESK1_COMMON_PIPE_NAME_H

#include <string>

namespace vesk1::pipe_name {

// "$VESK_PIPE7$": the pipe's own name for instance 7 on every system.
inline std::string BaseName(int instance) {
  return "$VESK_PIPE" + std::to_string(instance) + "$";
}

// "\\.\pipe\$VESK_PIPE7$": the Windows pipe of instance 7.
inline std::string WindowsPipeName(int instance) {
  return "\\\\.\\pipe\\" + BaseName(instance);
}

// The private socket directory of `user` under `tmpDirectory` ($TMPDIR; nullptr or empty means
// "/tmp"): "/tmp/vesk1-1000". Trailing slashes of the temporary directory are dropped.
inline std::string SocketDirectory(const char* tmpDirectory, unsigned long user) {
  std::string base = (tmpDirectory != nullptr && tmpDirectory[0] != '\0') ? tmpDirectory : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  return base + "/vesk1-" + std::to_string(user);
}

// The socket of instance `instance` in `directory`: "/tmp/vesk1-1000/$VESK_PIPE7$".
inline std::string SocketPath(const std::string& directory, int instance) {
  return directory + "/" + BaseName(instance);
}

// The lock file that belongs to the socket at `socketPath`: "<socketPath>.lock".
inline std::string LockPath(const std::string& socketPath) {
  return socketPath + ".lock";
}

// What makes a socket directory unfit for use.
enum class DirectoryProblem {
  kNone,
  kNotADirectory,  // something else (a file, a symbolic link) has the directory's name
  kOtherOwner,     // it belongs to another user
  kOpenToOthers,   // group or others have some access to it
};

// Judges the socket directory from what lstat reports of it: its type, owner and permission
// bits, and the effective user who wants to use it.
inline DirectoryProblem CheckSocketDirectory(bool isDirectory, unsigned long owner,
                                             unsigned long mode, unsigned long user) {
  if (!isDirectory) return DirectoryProblem::kNotADirectory;
  if (owner != user) return DirectoryProblem::kOtherOwner;
  if ((mode & 077) != 0) return DirectoryProblem::kOpenToOthers;
  return DirectoryProblem::kNone;
}

// Says what is wrong with socket directory `directory`, for server and client alike:
// "Refusing the socket directory /tmp/vesk1-0: it belongs to user 65534, not to this user (0)".
inline std::string DescribeDirectoryProblem(DirectoryProblem problem, const std::string& directory,
                                            unsigned long owner, unsigned long mode,
                                            unsigned long user) {
  std::string why;
  switch (problem) {
    case DirectoryProblem::kNone:
      return "";
    case DirectoryProblem::kNotADirectory:
      why = "it is not a directory";
      break;
    case DirectoryProblem::kOtherOwner:
      why = "it belongs to user " + std::to_string(owner) + ", not to this user (" +
            std::to_string(user) + ")";
      break;
    case DirectoryProblem::kOpenToOthers: {
      const char digits[] = {'0', static_cast<char>('0' + ((mode >> 6) & 7)),
                             static_cast<char>('0' + ((mode >> 3) & 7)),
                             static_cast<char>('0' + (mode & 7)), '\0'};
      why = std::string("group or others have access to it (mode ") + digits +
            "); it must be closed to them (mode 0700)";
      break;
    }
  }
  return "Refusing the socket directory " + directory + ": " + why;
}

// Says why the client refuses the server at `socketPath`: it runs as another user.
inline std::string DescribeForeignServer(const std::string& socketPath, unsigned long serverUser,
                                         unsigned long user) {
  return "Refusing the server at " + socketPath + ": it runs as user " +
         std::to_string(serverUser) + ", not as this user (" + std::to_string(user) + ")";
}

}  // namespace vesk1::pipe_name

#endif  // VESK1_COMMON_PIPE_NAME_H
