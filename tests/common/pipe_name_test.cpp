// The pipe's name and place as server and clients compose them.
#include "common/pipe_name.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk1::pipe_name {
namespace {

TEST(PipeName_Names, ExactTexts) {
  EXPECT_EQ("$VESK_PIPE7$", BaseName(7));
  EXPECT_EQ("$VESK_PIPE-3$", BaseName(-3));
  EXPECT_EQ("\\\\.\\pipe\\$VESK_PIPE7$", WindowsPipeName(7));
  EXPECT_EQ("/tmp/vesk1-0/$VESK_PIPE12$", SocketPath("/tmp/vesk1-0", 12));
  EXPECT_EQ("/tmp/vesk1-0/$VESK_PIPE12$.lock", LockPath("/tmp/vesk1-0/$VESK_PIPE12$"));
}

TEST(PipeName_SocketDirectory, UnderTmpdirPerUser) {
  struct Case {
    const char* tmp;
    unsigned long user;
    std::string directory;
  };
  for (const Case& c : {Case{nullptr, 1000, "/tmp/vesk1-1000"}, Case{"", 0, "/tmp/vesk1-0"},
                        Case{"/x/t", 5, "/x/t/vesk1-5"}, Case{"/x/t/", 5, "/x/t/vesk1-5"},
                        Case{"/x/t///", 5, "/x/t/vesk1-5"}, Case{"/", 5, "/vesk1-5"},
                        Case{"//", 5, "/vesk1-5"}, Case{".", 65534, "./vesk1-65534"}}) {
    EXPECT_EQ(c.directory, SocketDirectory(c.tmp, c.user)) << (c.tmp ? c.tmp : "(unset)");
  }
}

TEST(PipeName_CheckSocketDirectory, OnlyAPrivateDirectoryOfTheUserPasses) {
  struct Case {
    bool isDirectory;
    unsigned long owner, mode;
    DirectoryProblem problem;
  };
  for (const Case& c : {Case{true, 1000, 0700, DirectoryProblem::kNone},
                        Case{true, 1000, 0500, DirectoryProblem::kNone},
                        Case{true, 1000, 01700, DirectoryProblem::kNone},
                        Case{true, 1000, 0710, DirectoryProblem::kOpenToOthers},
                        Case{true, 1000, 0701, DirectoryProblem::kOpenToOthers},
                        Case{true, 1000, 0777, DirectoryProblem::kOpenToOthers},
                        Case{true, 0, 0700, DirectoryProblem::kOtherOwner},
                        Case{true, 0, 0777, DirectoryProblem::kOtherOwner},
                        Case{false, 1000, 0700, DirectoryProblem::kNotADirectory},
                        Case{false, 0, 0777, DirectoryProblem::kNotADirectory}}) {
    EXPECT_EQ(c.problem, CheckSocketDirectory(c.isDirectory, c.owner, c.mode, 1000))
        << c.isDirectory << " " << c.owner << " " << std::oct << c.mode;
  }
}

TEST(PipeName_Describe, MessagesNameThePlaceAndTheFault) {
  EXPECT_EQ("", DescribeDirectoryProblem(DirectoryProblem::kNone, "/t/vesk1-5", 5, 0700, 5));
  EXPECT_EQ("Refusing the socket directory /t/vesk1-5: it is not a directory",
            DescribeDirectoryProblem(DirectoryProblem::kNotADirectory, "/t/vesk1-5", 5, 0777, 5));
  EXPECT_EQ("Refusing the socket directory /t/vesk1-5: it belongs to user 0, not to this user (5)",
            DescribeDirectoryProblem(DirectoryProblem::kOtherOwner, "/t/vesk1-5", 0, 0700, 5));
  EXPECT_EQ(
      "Refusing the socket directory /t/vesk1-5: group or others have access to it (mode 0751); "
      "it must be closed to them (mode 0700)",
      DescribeDirectoryProblem(DirectoryProblem::kOpenToOthers, "/t/vesk1-5", 5, 0751, 5));
  EXPECT_EQ(
      "Refusing the server at /t/vesk1-5/$VESK_PIPE7$: it runs as user 65534, not as this "
      "user (5)",
      DescribeForeignServer("/t/vesk1-5/$VESK_PIPE7$", 65534, 5));
}

}  // namespace
}  // namespace vesk1::pipe_name
