// What start-up says about a worker whose module did not load, and why a path is not safe to
// load code from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module_files.h"
#include "startup.h"

namespace vesk1 {
namespace {

TEST(DescribeLoadFailure, NamesTheWorkerItsDirectoryAndTheSystemsReason) {
  EXPECT_EQ(
      "\nWorker 2 could not load its module from ./2/: ./2/vesk1_chzd.so: cannot open "
      "shared object file: No such file or directory",
      DescribeLoadFailure(2, "./2/",
                          "./2/vesk1_chzd.so: cannot open shared object file: No such "
                          "file or directory"));
  EXPECT_EQ("\nWorker 12 could not load its module from .\\12\\: Error 126",
            DescribeLoadFailure(12, ".\\12\\", "Error 126"));
}

TEST(DescribeMissingFiles, ListsWhatTheCurrentDirectoryHasAndTheWorkerLacks) {
  struct Case {
    std::vector<std::string> current;
    std::vector<std::string> inWorker;
    std::string expected;
  };
  const std::string tail = ", which the current directory has; remove ./2/ to have it made afresh.";
  const std::vector<Case> cases = {
      {{"vesk1_chzd.so"}, {}, "\n./2/ was used as it stood and lacks vesk1_chzd.so" + tail},
      {{"vesk1_fdll.so", "vesk1_chzd.so"},
       {},
       "\n./2/ was used as it stood and lacks vesk1_chzd.so, vesk1_fdll.so" + tail},
      {{"vesk1_fdll.so", "vesk1_chzd.so"},
       {"vesk1_chzd.so"},
       "\n./2/ was used as it stood and lacks vesk1_fdll.so" + tail},
      {{"vesk1_chzd.so"}, {"vesk1_chzd.so", "vesk1_old.so"}, ""},
      {{}, {}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected,
              DescribeMissingFiles("./2/", c.current, c.inWorker, "the current directory"));
  }
}

// The first problem is told: kind, then owner, then who may write.
TEST(UnsafeReason, NamesTheFirstProblemOfKindOwnerAndWriters) {
  using Kind = platform::PathFacts::Kind;
  constexpr Kind kDir = Kind::kDirectory;
  constexpr Kind kFile = Kind::kRegularFile;
  struct Case {
    platform::PathFacts facts;  // kind, ownerKnown, owner, groupWritable, othersWritable
    Kind wanted;
    bool rootTrusted;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{kFile, true, 1000, false, false}, kFile, false, ""},
      {{Kind::kSymbolicLink, true, 1000, false, false}, kDir, false, "is a symbolic link"},
      {{kFile, true, 1000, false, false}, kDir, false, "is not a directory"},
      {{kDir, true, 4242, true, true}, kDir, true, "belongs to user 4242, not to this user (1000)"},
      {{kFile, true, 0, false, false}, kFile, false, "belongs to user 0, not to this user (1000)"},
      {{kFile, true, 0, true, false}, kFile, true, "is writable by group"},
      {{kDir, true, 1000, false, true}, kDir, false, "is writable by others"},
      {{kDir, true, 1000, true, true}, kDir, false, "is writable by group and others"},
      {{kFile, false, 4242, false, false}, kFile, false, ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(c.expected, UnsafeReason(c.facts, c.wanted, 1000, c.rootTrusted)) << "case " << i;
  }
}

}  // namespace
}  // namespace vesk1
