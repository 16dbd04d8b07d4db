// Where new worker directories get their module files, and whether a reused worker directory
// is safe to load code from. A directory another user can write to, or a module file another
// user can change, would run that user's code as this server's user.
#ifndef VESK1_SERVER_MODULE_FILES_H
#define VESK1_SERVER_MODULE_FILES_H

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vesk1 {

// The module files a new worker directory receives.
struct ModuleSource {
  std::string directory;           // "." or the install's module directory; "" when none
  std::string shownAs;             // how the console names it: "the current directory" or the path
  std::vector<std::string> files;  // the names that passed the checks, in name order
  // What the console is told once, when a new directory first receives them: where they come
  // from when that is not the current directory, where the server looked when it found none,
  // and each file it would not copy. Each line led by a newline; may be empty.
  std::string notice;
};

// The "vesk1*" module files of the current directory, else those of the install
// (platform::InstalledModuleDirectory). Files of the current directory must be regular files
// (links are followed) owned by this user or root and writable by neither group nor others;
// the install's directory and files likewise.
ModuleSource ChooseModuleSource();

// Why a reused worker directory is not safe to load code from, as the rest of a sentence
// ("it belongs to user 4242, not to this user (1000)", "vesk1_chzd.so in ./2/ is writable by
// others"), or "" when it is: the directory must be a real directory (not a link) owned by
// this user and writable by neither group nor others, and so must be each module file in it
// (each "vesk1*" file, and the module's own name whatever it is).
std::string RefusalOfWorkerDirectory(const std::string& directory);

// Why code may not be loaded from a path with `facts` when it should be of kind `wanted`, as
// the rest of a sentence whose subject is the path ("is a symbolic link", "belongs to user
// 4242, not to this user (1000)", "is writable by group and others"), or "" when it may. The
// owner must be `user`, or root where `rootTrusted` (an install's files belong to root). A
// check the system cannot make (an unknown owner) passes.
std::string UnsafeReason(const platform::PathFacts& facts, platform::PathFacts::Kind wanted,
                         unsigned long user, bool rootTrusted);

// The line printed for a refused worker directory, led by the newline that ends the line
// before: "\nWorker 2 refused ./2/: <why>. Remove ./2/ to have it made afresh."
std::string DescribeRefusal(int workerNumber, const std::string& directory, const std::string& why);

}  // namespace vesk1

#endif  // VESK1_SERVER_MODULE_FILES_H
