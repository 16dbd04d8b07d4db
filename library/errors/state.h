// Every piece of mutable state of the error-reporting subsystem: the error state with its
// routine-name stack, the message parameters and the pending message, the unit table and the
// option table. One thread at a time may be inside the library; nothing here is locked.
//
// The structs hold plain arrays indexed from 1 as the routines count (entry 0 unused), so a
// level, a type or a unit number reads the same in the code as in a printed traceback.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

namespace vesk1 {

inline constexpr int32_t kNameLength = 32;         // characters of a stacked routine name
inline constexpr int32_t kMaxLevel = 50;           // highest level a push may reach
inline constexpr int32_t kLevels = 51;             // levels 1..51; 51 holds only an outcome
inline constexpr int32_t kErrorTypes = 7;          // error types 1..7
inline constexpr int32_t kStoreCapacity = 300;     // characters of the parameter store
inline constexpr int32_t kMessageCapacity = 1024;  // characters of a built message

// Print and stop attributes of error types 1..7 as the library ships them; attribute value 2
// restores these.
inline constexpr std::array<int32_t, kErrorTypes + 1> kDefaultPrint = {0, 0, 0, 1, 1, 1, 1, 1};
inline constexpr std::array<int32_t, kErrorTypes + 1> kDefaultStop = {0, 0, 0, 0, 1, 1, 0, 1};

// Zero at load; InitErrorState gives the values noted per field on first use and never again,
// so attributes set by the caller last for the life of the process.
struct ErrorState {
  int32_t level;     // current stack level; 1 is the library's caller (1)
  int32_t maxLevel;  // highest level a push may reach (50)
  // name(L): routine of level L, blank-padded ("USER" at level 1)
  std::array<std::array<char, kNameLength>, kLevels + 1> name;
  // type(L), code(L): outcome recorded for level L; 0 none, -1 nothing recorded
  // (level 1: 0 and 0; levels 2..51: -1 and -1)
  std::array<int32_t, kLevels + 1> type;
  std::array<int32_t, kLevels + 1> code;
  std::array<int32_t, kErrorTypes + 1> print;  // print(t): 1 print, 0 not (0,0,1,1,1,1,1)
  std::array<int32_t, kErrorTypes + 1> stop;   // stop(t): 1 stop, 0 not (0,0,0,1,1,0,1)
  int32_t pendingWarning;                      // a type-6 message awaits its stop decision (0)
  int32_t pendingFatal;                        // a type-7 message awaits its stop decision (0)
  bool initialised;                            // InitErrorState has run (false at load)
};

// Numbered parameters for the next message, appended as "*<kind><k>*<length>%<value>".
struct ParameterStore {
  std::array<char, kStoreCapacity> text;  // entries, position 1 in text[0]
  int32_t length;  // position of the last character used; 1 means empty (set by init)
};

// The expanded message still to be printed; it always starts with ".  ".
struct MessageText {
  std::array<char, kMessageCapacity> text;
  int32_t length;  // characters used; 0 when nothing is pending (0)
};

// Numbered output units. Unit numbers stand for the host's streams (6 standard output, 0
// standard error) or for files "fort.<n>" opened on first use.
struct UnitTable {
  // unit(1..3): input, output and error-message units; valid from load
  std::array<int32_t, 4> unit = {0, 5, 6, 6};
  struct OpenFile {
    int32_t number;
    std::FILE* file;
  };
  // Files opened so far; a unit beyond the table's room is opened and closed per record.
  std::array<OpenFile, 32> files{};
  int32_t fileCount = 0;
};

// Integer options of one product, addressed by chapter and option number. The values of slot
// k (counted over all chapters) are values[pointer[k] .. pointer[k+1]-1]; equal pointers mean
// the option does not exist.
struct OptionProduct {
  static constexpr int32_t kMaxChapters = 20;
  static constexpr int32_t kMaxSlots = 125;
  static constexpr int32_t kMaxValues = 148;
  int32_t chapters;                                    // chapters 1..chapters are valid
  std::array<int32_t, kMaxChapters + 1> chapterBase;   // first slot of the chapter, minus 1
  std::array<int32_t, kMaxChapters + 1> chapterCount;  // option numbers of the chapter
  std::array<int32_t, kMaxSlots + 1> pointer;
  std::array<int32_t, kMaxValues> values;
  std::array<int32_t, kMaxValues> defaults;  // built-in values, never changed afterwards
};

// Built by the first call of IUMAG; values change only by puts afterwards.
struct OptionTable {
  OptionProduct math;  // "MATH", chapters 1..10; chapter 10 holds the special options
  OptionProduct stat;  // "STAT", chapters 1..20; chapter 19 holds the special options
  bool built;          // false at load
};

struct ErrorReportingState {
  ErrorState errors;
  ParameterStore parameters;
  MessageText message;
  UnitTable units;
  OptionTable options;
};

// The one instance, defined in state.cpp.
ErrorReportingState& Reporting();

// Gives the error state, the parameter store and the message text their initial values, the
// first time it is called in the process; later calls do nothing.
void InitErrorStateOnce();
inline void InitErrorState() {
  if (!Reporting().errors.initialised) InitErrorStateOnce();
}

}  // namespace vesk1
