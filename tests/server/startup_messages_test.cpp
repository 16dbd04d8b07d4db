// What start-up says about a worker whose module did not load.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    EXPECT_EQ(c.expected, DescribeMissingFiles("./2/", c.current, c.inWorker));
  }
}

}  // namespace
}  // namespace vesk1
