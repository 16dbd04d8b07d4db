// Runs vesk1_client the way a user types it, for the client's black-box tests.
#ifndef VESK1_TESTS_CLIENT_RUN_CLIENT_H_
#define VESK1_TESTS_CLIENT_RUN_CLIENT_H_

#include <string>
#include <utility>
#include <vector>

#include "support/spawn.h"

namespace vesk1::test {

// Splits a command line at blanks; single quotes keep blanks inside a word.
inline std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, inWord = false;
  for (char c : line) {
    if (c == '\'') {
      quoted = !quoted;
      inWord = true;
    } else if (c == ' ' && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// Runs vesk1_client with `leading` words, then the words of `arguments`, and TMPDIR pointing at
// `tmpDirectory` (where a POSIX client looks for the socket; Windows pipe names do not depend
// on it).
inline SpawnResult RunClientProgram(const std::string& tmpDirectory,
                                    std::vector<std::string> leading,
                                    const std::string& arguments) {
  std::vector<std::string> args = {VESK1_CLIENT_PROGRAM};
  for (std::string& word : leading) args.push_back(std::move(word));
  for (std::string& word : SplitWords(arguments)) args.push_back(std::move(word));
  return SpawnAndCapture(VESK1_CLIENT_PROGRAM, args, "TMPDIR=" + tmpDirectory);
}

}  // namespace vesk1::test

#endif  // VESK1_TESTS_CLIENT_RUN_CLIENT_H_
