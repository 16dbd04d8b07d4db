// What the readers share to take a text file apart: its lines, its numbers, the place a message
// names, and the end every reader gives its sounding.
#ifndef VESK1_MT_READERS_TEXT_H
#define VESK1_MT_READERS_TEXT_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mt/readers/readers.h"

namespace vesk1::mt::readers {

std::string Upper(std::string_view text);

// A Fortran-style number as EDI writers print it: 1.0E32, 1.0D+02, -.5; nothing if it is not one.
std::optional<double> Number(std::string_view word);

// The file's lines without their ends: LF, CR LF and a lone CR all end a line.
std::vector<std::string_view> Lines(std::string_view text);

// The file a reader reads, and where in it a message points: "FILE: line N, section >NAME: ".
struct Context {
  std::string name;
  std::string Where(int line, std::string_view section) const {
    std::string where = name;
    if (line > 0) where += ": line " + std::to_string(line);
    if (!section.empty()) where += std::string(line > 0 ? ", " : ": ") + "section >";
    where += section;
    return where + ": ";
  }
};

// Points by increasing period, as every reader returns them.
void FinishSounding(Sounding& sounding);

// The error of a file without a usable frequency.
ReadResult Refuse(const Context& context, const Sounding& sounding);

}  // namespace vesk1::mt::readers

#endif  // VESK1_MT_READERS_TEXT_H
