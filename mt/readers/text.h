// What the readers share to take a text file apart: its lines, its numbers and the ranges they
// must lie in, the place a message names, and the end every reader gives its sounding.
#ifndef VESK1_MT_READERS_TEXT_H
#define VESK1_MT_READERS_TEXT_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mt/readers/readers.h"

namespace vesk1::mt::readers {

std::string Upper(std::string_view text);

// The text without a UTF-8 byte-order mark at its start.
std::string_view WithoutByteOrderMark(std::string_view text);

// A Fortran-style number as EDI writers print it: 1.0E32, 1.0D+02, -.5; nothing if it is not one.
// Numbers beyond the range of a double come back infinite.
std::optional<double> Number(std::string_view word);

// The file's lines without their ends: LF, CR LF and a lone CR all end a line.
std::vector<std::string_view> Lines(std::string_view text);

// What a number in a file stands for, and so the range it must lie in.
enum class Quantity {
  kAny,          // finite
  kFrequency,    // hertz, from 1e-10 to 1e10
  kPeriod,       // seconds, from 1e-10 to 1e10
  kImpedance,    // a part of an impedance, magnitude at most 1e30
  kVariance,     // 0 to 1e60
  kResistivity,  // apparent resistivity, 0 (no value) or 1e-30 to 1e30 ohm-metres
  kPhase,        // -360 to 360 degrees
  kError,        // a standard error, 0 to 1e30
  kAngle,        // a rotation angle, -360 to 360 degrees
};

// Empty when `value`, written `text` in the file, can be the quantity; otherwise what is wrong
// with it: "frequency 0 is not positive", "\"1e400\" is not a finite number".
std::string ValueProblem(Quantity quantity, double value, std::string_view text);

// Whether a point's values are all finite and its apparent resistivity a positive normal number,
// so that its logarithm and everything printed of it are numbers.
bool IsFinitePoint(const MeasuredPoint& point);

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

// What every reader returns last: the sounding with its points selected (SelectPoints), or the
// error of a file with no point left to use, which says what was set aside.
ReadResult Finish(const Context& context, Sounding sounding, const ReadOptions& options);

}  // namespace vesk1::mt::readers

#endif  // VESK1_MT_READERS_TEXT_H
