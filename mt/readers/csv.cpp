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
  kPhaseError
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
  return Column::kIgnored;
}

}  // namespace

ReadResult ParseCsv(std::string_view text, std::string_view name, const ReadOptions& options) {
  const Context context{std::string(name)};
  ReadResult result;
  Sounding& sounding = result.sounding;
  std::vector<Column> columns;
  int headerLine = 0;
  const std::vector<std::string_view> lines = Lines(text);
  for (size_t n = 0; n < lines.size(); ++n) {
    const int lineNumber = static_cast<int>(n) + 1;
    std::string_view line = lines[n].substr(0, lines[n].find('#'));
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    // Fields between commas (or semicolons), blanks around them dropped.
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
      const size_t comma = line.find_first_of(",;", start);
      std::string_view field =
          line.substr(start, comma == std::string_view::npos ? comma : comma - start);
      while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
        field.remove_prefix(1);
      while (!field.empty() && (field.back() == ' ' || field.back() == '\t'))
        field.remove_suffix(1);
      if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
        field = field.substr(1, field.size() - 2);
      }
      fields.emplace_back(field);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
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
    double period = kMissing, rho = kMissing, phase = kMissing, rhoErr = 0, phaseErr = 0;
    bool missing = false;
    for (size_t k = 0; k < fields.size(); ++k) {
      if (columns[k] == Column::kIgnored) continue;
      const std::string upper = Upper(fields[k]);
      std::optional<double> value;
      if (!(fields[k].empty() || upper == "NAN" || upper == "NA")) {
        value = Number(fields[k]);
        if (!value) {
          result.error = context.Where(lineNumber, "") + "\"" + fields[k] + "\" is not a number";
          return result;
        }
      }
      const double v = value ? *value : kMissing;
      switch (columns[k]) {
        case Column::kPeriod:
          period = v;
          break;
        case Column::kFrequency:
          period = v > 0 ? 1.0 / v : v;
          break;
        case Column::kResistivity:
          rho = v;
          break;
        case Column::kPhase:
          phase = v;
          break;
        case Column::kResistivityError:
          rhoErr = std::isnan(v) ? 0 : v;
          break;
        case Column::kPhaseError:
          phaseErr = std::isnan(v) ? 0 : v;
          break;
        case Column::kIgnored:
          break;
      }
    }
    missing = std::isnan(period) || std::isnan(rho) || std::isnan(phase);
    if (missing) {
      ++sounding.leftOut;
      continue;
    }
    if (!(period > 0) || !(rho > 0) || !std::isfinite(period) || !std::isfinite(rho) ||
        !std::isfinite(phase) || rhoErr < 0 || phaseErr < 0) {
      result.error = context.Where(lineNumber, "") +
                     "periods and resistivities must be positive and errors not negative";
      return result;
    }
    // The floor on |Z| in the terms of these columns: 2 floor relative in resistivity, floor
    // radians in phase.
    MeasuredPoint p{period, rho, phase, std::max(rhoErr, 2 * options.errorFloor * rho),
                    std::max(phaseErr, options.errorFloor * 180.0 / kPi)};
    sounding.points.push_back(p);
  }
  if (headerLine == 0) {
    result.error = context.name + ": no header line naming the columns";
    return result;
  }
  if (sounding.points.empty()) return Refuse(context, sounding);
  sounding.source = "CSV columns";
  FinishSounding(sounding);
  return result;
}

}  // namespace vesk1::mt
