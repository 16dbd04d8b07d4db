// The one operating-system service the child-process runner needs; spawn_posix.cpp and
// spawn_win32.cpp implement it.
#ifndef VESK1_TESTS_SUPPORT_SPAWN_H_
#define VESK1_TESTS_SUPPORT_SPAWN_H_

#include <string>
#include <vector>

namespace vesk1::test {

struct SpawnResult {
  bool started = false;  // false when the process could not be created
  int exitStatus = -1;   // exit status, or 128 + signal number
  std::string output;    // its standard output
  std::string errors;    // its standard error
};

// Path of the running program.
std::string CurrentExecutablePath();

// Starts PROGRAM with ARGS (ARGS[0] is the program name) in an environment of this process's
// plus EXTRAVARIABLE ("NAME=value", replacing a variable NAME of this process), waits for it and
// collects both output streams.
SpawnResult SpawnAndCapture(const std::string& program, const std::vector<std::string>& args,
                            const std::string& extraVariable);

}  // namespace vesk1::test

#endif  // VESK1_TESTS_SUPPORT_SPAWN_H_
