// The CSV reader: a header line names the columns, in any order.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "mt/readers/readers.h"
#include "mt/readers/text.h"

namespace vesk1::mt {
namespace {

using namespace readers;

enum class Column {
  kIgnored,
  kPeriod,
  kFrequency,
  kResistivity,
  kPhase,
  kResistivityError,
  kPhaseError,
  kStatus
};

// A column by the words of its name: "period_s", "Frequency (Hz)", "rho_a", "phase_error_deg".
Column ColumnOf(std::string_view header) {
  std::string n;
  for (char c : header) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  const bool error = n.find("err") != std::string::npos;
  auto starts = [&](const char* prefix) { return n.rfind(prefix, 0) == 0; };
  if (starts("period") || n == "t" || n == "ts") return Column::kPeriod;
  if (starts("freq") || n == "f" || n == "fhz") return Column::kFrequency;
  if (starts("phase") || starts("phi") || starts("phs")) {
    return error ? Column::kPhaseError : Column::kPhase;
  }
  if (starts("rho") || starts("app") || starts("resist")) {
    return error ? Column::kResistivityError : Column::kResistivity;
  }
  if (n == "status") return Column::kStatus;
  return Column::kIgnored;
}

Quantity QuantityOf(Column column) {
  switch (column) {
    case Column::kPeriod:
      return Quantity::kPeriod;
    case Column::kFrequency:
      return Quantity::kFrequency;
    case Column::kResistivity:
      return Quantity::kResistivity;
    case Column::kPhase:
      return Quantity::kPhase;
    case Column::kResistivityError:
    case Column::kPhaseError:
      return Quantity::kError;
    case Column::kIgnored:
    case Column::kStatus:
      break;
  }
  return Quantity::kAny;
}

// Fields between commas (or semicolons), blanks around them and enclosing quotes dropped.
std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = line.find_first_of(",;", start);
    std::string_view field =
        line.substr(start, comma == std::string_view::npos ? comma : comma - start);
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) {
      field.remove_prefix(1);
    }
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
      field = field.substr(1, field.size() - 2);
    }
    fields.emplace_back(field);
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

}  // namespace

ReadResult ParseCsv(std::string_view text, std::string_view name, const ReadOptions& options) {
  const Context context{std::string(name)};
  ReadResult result;
  if (options.rotateTo) {
    result.error = context.name +
                   ": --rotate needs the impedance tensor, which a CSV file does "
                   "not hold";
    return result;
  }
  Sounding sounding;
  sounding.source = "CSV columns";
  std::vector<Column> columns;
  int headerLine = 0;
  const std::vector<std::string_view> lines = Lines(WithoutByteOrderMark(text));
  for (size_t n = 0; n < lines.size(); ++n) {
    const int lineNumber = static_cast<int>(n) + 1;
    std::string_view line = lines[n].substr(0, lines[n].find('#'));
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    const std::vector<std::string> fields = Fields(line);
    if (columns.empty()) {
      bool time = false, rho = false, phase = false;
      for (const std::string& field : fields) {
        const Column c = ColumnOf(field);
        columns.push_back(c);
        time |= c == Column::kPeriod || c == Column::kFrequency;
        rho |= c == Column::kResistivity;
        phase |= c == Column::kPhase;
      }
      if (!time || !rho || !phase) {
        result.error = context.Where(lineNumber, "") +
                       "the header must name a period (or frequency), an apparent resistivity "
                       "and a phase column";
        return result;
      }
      headerLine = lineNumber;
      continue;
    }
    if (fields.size() != columns.size()) {
      result.error = context.Where(lineNumber, "") + std::to_string(fields.size()) +
                     " fields under a header of " + std::to_string(columns.size());
      return result;
    }
    PointStatus status = PointStatus::kUsed;
    for (size_t k = 0; k < fields.size(); ++k) {
      if (columns[k] == Column::kStatus && !ParseStatus(fields[k], status)) {
        result.error = context.Where(lineNumber, "") + "status \"" + fields[k] +
                       "\" is not used, excluded, out-of-quadrant or missing";
        return result;
      }
    }
    // A row set aside keeps its status and those of its values that could be right; only a row
    // marked used must be whole and right.
    const bool used = status == PointStatus::kUsed;
    MeasuredPoint p{kMissing, kMissing, kMissing, kMissing, kMissing, status};
    for (size_t k = 0; k < fields.size(); ++k) {
      if (columns[k] == Column::kIgnored || columns[k] == Column::kStatus) continue;
      const std::string upper = Upper(fields[k]);
      if (fields[k].empty() || upper == "NAN" || upper == "NA") continue;
      const std::optional<double> value = Number(fields[k]);
      std::string problem = value ? ValueProblem(QuantityOf(columns[k]), *value, fields[k])
                                  : "\"" + fields[k] + "\" is not a number";
      if (!problem.empty()) {
        if (!used) continue;
        result.error = context.Where(lineNumber, "") + problem;
        return result;
      }
      const double v = *value;
      switch (columns[k]) {
        case Column::kPeriod:
          p.period = v;
          break;
        case Column::kFrequency:
          p.period = 1.0 / v;
          break;
        case Column::kResistivity:
          p.resistivity = v;
          break;
        case Column::kPhase:
          p.phase = v;
          break;
        case Column::kResistivityError:
          p.resistivityError = v;
          break;
        case Column::kPhaseError:
          p.phaseError = v;
          break;
        case Column::kIgnored:
        case Column::kStatus:
          break;
      }
    }
    if (used && (std::isnan(p.period) || std::isnan(p.resistivity) || std::isnan(p.phase))) {
      p.status = PointStatus::kMissing;
    } else if (used && !(p.resistivity > 0)) {
      result.error = context.Where(lineNumber, "") + "apparent resistivity 0 is not positive";
      return result;
    } else if (used) {
      // The floor on |Z| in the terms of these columns: 2 floor relative in resistivity, floor
      // radians in phase. An error not given is none.
      p.resistivityError = std::max(std::isnan(p.resistivityError) ? 0 : p.resistivityError,
                                    2 * options.errorFloor * p.resistivity);
      p.phaseError =
          std::max(std::isnan(p.phaseError) ? 0 : p.phaseError, options.errorFloor * 180.0 / kPi);
    }
    sounding.points.push_back(p);
  }
  if (headerLine == 0) {
    result.error = context.name + ": no header line naming the columns";
    return result;
  }
  return Finish(context, std::move(sounding), options);
}

}  // namespace vesk1::mt
