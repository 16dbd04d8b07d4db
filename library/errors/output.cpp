// Printed messages with their wrapping and traceback, the unit table, and the process stop.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/errors.h"
#include "errors/state.h"
#include "errors/text.h"

namespace vesk1 {
namespace {

constexpr int32_t kFirstLineRoom = 59;  // header and first piece of text together
constexpr int32_t kPieceLength = 64;    // text on each continuation line
constexpr std::string_view kTypeNames[] = {"UNKNOWN ", "NOTE    ", "ALERT   ", "WARNING ",
                                           "FATAL   ", "TERMINAL", "WARNING ", "FATAL   "};

// One printed line, assembled without allocating.
class Line {
 public:
  Line& Text(std::string_view text) {
    const size_t n = std::min(text.size(), sizeof buffer_ - size_);
    if (n == 0) return *this;  // an empty piece may carry no pointer at all
    std::memcpy(buffer_ + size_, text.data(), n);
    size_ += n;
    return *this;
  }
  Line& Blanks(size_t count) {
    const size_t n = std::min(count, sizeof buffer_ - size_);
    std::memset(buffer_ + size_, ' ', n);
    size_ += n;
    return *this;
  }
  // TEXT in WIDTH columns, cut or blank-padded.
  Line& Field(std::string_view text, size_t width) {
    const size_t n = std::min(width, sizeof buffer_ - size_);
    const std::span<char> field(buffer_ + size_, n);
    std::fill(field.begin(), field.end(), ' ');
    if (!text.empty() && n > 0) {
      CopyIntoField(text, 1, static_cast<int32_t>(text.size()), field, 1, static_cast<int32_t>(n));
    }
    size_ += n;
    return *this;
  }
  // VALUE right-justified in WIDTH columns, asterisks when it does not fit.
  Line& Column(int32_t value, size_t width) {
    const size_t n = std::min(width, sizeof buffer_ - size_);
    FormatColumn(value, std::span<char>(buffer_ + size_, n));
    size_ += n;
    return *this;
  }
  std::string_view View() const { return std::string_view(buffer_, size_); }

 private:
  char buffer_[160];
  size_t size_ = 0;
};

// A stacked name as printed: without its trailing blanks, and "dLINRG" shown as "DLINRG" (a
// lower-case first letter before an upper-case second one is taken for a slip of the shift key).
void PrintedName(const std::array<char, kNameLength>& stacked, char (&out)[kNameLength],
                 size_t& length) {
  std::memcpy(out, stacked.data(), kNameLength);
  if (out[1] >= 'A' && out[1] <= 'Z' && out[0] >= 'a' && out[0] <= 'z') {
    out[0] = static_cast<char>(out[0] - 'a' + 'A');
  }
  length = kNameLength;
  while (length > 0 && out[length - 1] == ' ') --length;
}

std::string_view TypeName(int32_t type) {
  return type >= 1 && type <= kErrorTypes ? kTypeNames[type] : kTypeNames[0];
}

// Cuts the message M into printed pieces: the first fits ROOM characters, the others 64; a
// "%/" forces a break and is not printed. Positions below count from 1.
template <typename Emit>
void WrapMessage(std::string_view m, int32_t room, Emit emit) {
  const auto n = static_cast<int32_t>(m.size());
  auto piece = [&](int32_t from, int32_t to) {  // M(from:to), empty when to < from
    return to < from ? std::string_view()
                     : m.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1));
  };

  const int32_t firstBreak = FindNoCase(m, "%/");
  bool foundBreak = firstBreak > 0;
  int32_t s = 0;
  if (foundBreak && firstBreak < room) {
    emit(piece(1, firstBreak - 1));
    s = firstBreak + 2;
  } else if (n <= room) {
    emit(m);
    return;
  } else {
    int32_t k = room;
    while (k > 2 && m[static_cast<size_t>(k - 1)] != ' ') --k;
    emit(piece(1, k - 1));
    s = k + 1;
  }

  for (;;) {
    const int32_t windowEnd = std::min(s + kPieceLength - 1, n);
    int32_t begin = s;
    // After a break at a blank the next blank is one of the two after a sentence's period.
    if (!foundBreak && s <= n && m[static_cast<size_t>(s - 1)] == ' ') begin = s + 1;
    const int32_t at = FindNoCase(piece(s, windowEnd), "%/");
    foundBreak = at > 0;
    if (foundBreak) {
      const int32_t percent = s + at - 1;
      emit(piece(begin, percent - 1));
      s = percent + 2;
    } else if (n <= s + kPieceLength - 1) {
      emit(piece(begin, n));
      return;
    } else {
      int32_t blank = windowEnd;
      while (blank > begin && m[static_cast<size_t>(blank - 1)] != ' ') --blank;
      if (blank > begin) {
        emit(piece(begin, blank));
        s = blank + 1;
      } else {
        emit(piece(begin, s + kPieceLength - 1));
        s += kPieceLength;
      }
    }
  }
}

void PrintTraceback(int32_t unit, const ErrorState& e) {
  WriteRecord(unit, Line()
                        .Blanks(5)
                        .Text("Here is a traceback of subprogram calls")
                        .Text(" in reverse order:")
                        .View());
  WriteRecord(unit, Line()
                        .Blanks(5)
                        .Text("Routine name")
                        .Blanks(15)
                        .Blanks(1)
                        .Text("    Error type  Error code")
                        .View());
  WriteRecord(unit, Line()
                        .Blanks(5)
                        .Text("------------")
                        .Blanks(2)
                        .Blanks(14)
                        .Text("    ----------  ----------")
                        .View());
  for (int32_t level = e.level; level >= 1; --level) {
    char name[kNameLength];
    size_t length = 0;
    PrintedName(e.name[static_cast<size_t>(level)], name, length);
    Line row;
    row.Blanks(5)
        .Field(std::string_view(name, length), kNameLength)
        .Column(e.type[static_cast<size_t>(level)], 6)
        .Blanks(6)
        .Column(e.code[static_cast<size_t>(level)], 6);
    if (level >= 3) row.Blanks(4).Text("(Called internally)");
    WriteRecord(unit, row.View());
  }
}

// Where a unit's records go: the host's streams for 6 and 0, a file opened once for others.
// Returns null for a file that could not be opened; CLOSEAFTER is set for a file that is not
// kept open (the table is full).
std::FILE* UnitStream(int32_t unit, bool& closeAfter) {
  closeAfter = false;
  if (unit == 6) return stdout;
  if (unit == 0) return stderr;
  UnitTable& table = Reporting().units;
  for (int32_t i = 0; i < table.fileCount; ++i) {
    if (table.files[static_cast<size_t>(i)].number == unit) {
      return table.files[static_cast<size_t>(i)].file;
    }
  }
  char fileName[24];
  std::snprintf(fileName, sizeof fileName, "fort.%d", unit);
  std::FILE* file = std::fopen(fileName, "a");
  if (file == nullptr) return nullptr;
  if (table.fileCount < static_cast<int32_t>(table.files.size())) {
    table.files[static_cast<size_t>(table.fileCount++)] = {unit, file};
  } else {
    closeAfter = true;
  }
  return file;
}

}  // namespace

void PrintMessage() {
  ErrorReportingState& s = Reporting();
  if (s.message.length < 1) return;
  const ErrorState& e = s.errors;
  const auto level = static_cast<size_t>(e.level);
  const int32_t unit = s.units.unit[3];

  char name[kNameLength];
  size_t nameLength = 0;
  PrintedName(e.name[level], name, nameLength);
  char code[12];
  const int32_t codeLength = std::snprintf(code, sizeof code, "%d", e.code[level]);
  Line header;
  header.Text(" ")
      .Text(std::string_view(code, static_cast<size_t>(codeLength)))
      .Text(" from ")
      .Text(std::string_view(name, nameLength));
  const auto headerLength = static_cast<int32_t>(header.View().size());

  WriteRecord(unit, "");
  bool first = true;
  WrapMessage(std::string_view(s.message.text.data(), static_cast<size_t>(s.message.length)),
              kFirstLineRoom - headerLength, [&](std::string_view piece) {
                Line line;
                if (first) {
                  line.Text(" *** ")
                      .Text(TypeName(e.type[level]))
                      .Text(" ERROR")
                      .Text(header.View())
                      .Text(piece);
                } else {
                  line.Text(" *** ").Blanks(9).Text(piece);
                }
                first = false;
                WriteRecord(unit, line.View());
              });
  if (e.level > 2) PrintTraceback(unit, e);

  s.message.length = 0;
  s.parameters.length = 1;
}

void UMACH(int32_t n, int32_t& nunit) {
  UnitTable& table = Reporting().units;
  if (n >= 1 && n <= 3) {
    nunit = table.unit[static_cast<size_t>(n)];
    return;
  }
  if (n >= -3 && n <= -1) {
    table.unit[static_cast<size_t>(-n)] = nunit;
    return;
  }
  const int32_t unit = table.unit[3];
  Line index;
  index.Text(" ***          1, 2, or 3.  IABS(N) = ");
  if (n == INT32_MIN) {
    index.Text("******");  // its magnitude has no int32; it would not fit anyway
  } else {
    index.Column(n < 0 ? -n : n, 6);
  }
  index.Text(".");
  WriteRecord(unit, "");
  WriteRecord(unit, " *** TERMINAL ERROR 5 from UMACH.  The absolute");
  WriteRecord(unit, " ***          value of the index variable must be");
  WriteRecord(unit, index.View());
  WriteRecord(unit, "");
  StopProcess();
}

void WriteRecord(int32_t unit, std::string_view line) {
  bool closeAfter = false;
  std::FILE* stream = UnitStream(unit, closeAfter);
  if (stream == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  // Flushed per record, so the library's lines and the host's interleave as they were written.
  std::fflush(stream);
  if (closeAfter) std::fclose(stream);
}

void StopProcess() {
  const UnitTable& table = Reporting().units;
  for (int32_t i = 0; i < table.fileCount; ++i) {
    std::fflush(table.files[static_cast<size_t>(i)].file);
  }
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace vesk1
