#include "module_files.h"

#include <algorithm>
#include <string>
#include <vector>

namespace vesk1 {
namespace {

using Kind = platform::PathFacts::Kind;

constexpr unsigned long kRootUser = 0;

// `directory` and `name` with one separator between them.
std::string Join(const std::string& directory, const std::string& name) {
  const bool ends = !directory.empty() && (directory.back() == '/' || directory.back() == '\\');
  return ends ? directory + name : directory + "/" + name;
}

std::string ErrorText(platform::ErrorCode code) {
  return "Error " + std::to_string(code);
}

// Why the file or directory at `path` may not be loaded from, or "" when it may; a path the
// system cannot describe is refused with the system's code.
std::string CheckPath(const std::string& path, bool followLinks, Kind wanted, bool rootTrusted) {
  platform::PathFacts facts;
  if (const platform::ErrorCode e = platform::InspectPath(path, followLinks, facts);
      e != platform::kNoError) {
    return "cannot be examined: " + ErrorText(e);
  }
  return UnsafeReason(facts, wanted, platform::ThisUser(), rootTrusted);
}

// Keeps the files of `source` that are safe to copy; says in its notice why each other one is
// not copied.
void KeepSafeFiles(ModuleSource& source, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string why = CheckPath(Join(source.directory, name), true, Kind::kRegularFile, true);
    if (why.empty()) {
      source.files.push_back(name);
    } else {
      source.notice += "\n" + name + " in " + source.shownAs + " " + why + "; it is not copied.";
    }
  }
}

}  // namespace

ModuleSource ChooseModuleSource() {
  const std::string pattern = platform::ModuleCopyPattern();
  const std::string current = ".";
  std::vector<std::string> names;
  // A directory that cannot be listed holds nothing the server could copy.
  platform::ListMatchingFiles(current, pattern.c_str(), names);
  if (!names.empty()) {
    ModuleSource source{current, "the current directory", {}, {}};
    KeepSafeFiles(source, names);
    return source;
  }
  ModuleSource source;
  const std::string installed = platform::InstalledModuleDirectory();
  if (!installed.empty()) platform::ListMatchingFiles(installed, pattern.c_str(), names);
  if (names.empty()) {
    source.notice = "\nNo " + pattern + " files in the current directory" +
                    (installed.empty() ? std::string() : " nor in " + installed) +
                    "; new worker directories stay empty.";
    return source;
  }
  source.directory = installed;
  source.shownAs = installed;
  source.notice = "\nNo " + pattern +
                  " files in the current directory; new worker directories get theirs from " +
                  installed + ".";
  if (const std::string why = CheckPath(installed, true, Kind::kDirectory, true); !why.empty()) {
    source.notice += "\n" + installed + " " + why + "; nothing is taken from it.";
    return source;
  }
  KeepSafeFiles(source, names);
  return source;
}

std::string RefusalOfWorkerDirectory(const std::string& directory) {
  if (const std::string why = CheckPath(directory, false, Kind::kDirectory, false); !why.empty()) {
    return "it " + why;
  }
  std::vector<std::string> names;
  if (const platform::ErrorCode e =
          platform::ListMatchingFiles(directory, platform::ModuleCopyPattern(), names);
      e != platform::kNoError) {
    return "it cannot be listed: " + ErrorText(e);
  }
  // The module's own name is looked at even when it is no regular file: a link by that name
  // is what the load would follow.
  names.push_back(platform::ModuleFileName());
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (const std::string& name : names) {
    platform::PathFacts facts;
    const platform::ErrorCode e = platform::InspectPath(Join(directory, name), false, facts);
    if (e == platform::kNoError && facts.kind == Kind::kMissing) continue;  // the load says so
    const std::string why = e != platform::kNoError ? "cannot be examined: " + ErrorText(e)
                                                    : UnsafeReason(facts, Kind::kRegularFile,
                                                                   platform::ThisUser(), false);
    if (!why.empty()) return name + " in " + directory + " " + why;
  }
  return "";
}

std::string UnsafeReason(const platform::PathFacts& facts, Kind wanted, unsigned long user,
                         bool rootTrusted) {
  if (facts.kind == Kind::kMissing) return "does not exist";
  if (facts.kind == Kind::kSymbolicLink) return "is a symbolic link";
  if (facts.kind != wanted) {
    return wanted == Kind::kDirectory ? "is not a directory" : "is not a regular file";
  }
  if (facts.ownerKnown && facts.owner != user && !(rootTrusted && facts.owner == kRootUser)) {
    return "belongs to user " + std::to_string(facts.owner) + ", not to this user (" +
           std::to_string(user) + ")";
  }
  if (facts.groupWritable && facts.othersWritable) return "is writable by group and others";
  if (facts.groupWritable) return "is writable by group";
  if (facts.othersWritable) return "is writable by others";
  return "";
}

std::string DescribeRefusal(int workerNumber, const std::string& directory,
                            const std::string& why) {
  return "\nWorker " + std::to_string(workerNumber) + " refused " + directory + ": " + why +
         ". Remove " + directory + " to have it made afresh.";
}

}  // namespace vesk1
