// The EDI reader: impedance sections with their variances, apparent resistivity and phase
// sections with their errors, or spectra sections (remote reference included).
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mt/format.h"
#include "mt/readers/readers.h"
#include "mt/readers/text.h"

namespace vesk1::mt {
namespace {

using namespace readers;

constexpr double kDefaultEmpty = 1.0e32;
// No section holds more values than this; a greater count is a damaged file.
constexpr double kLargestCount = 1e7;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == ',';
}

struct Token {
  std::string text;
  int line;
};

// Splits at blanks, tabs and commas; a double-quoted run keeps its blanks (quotes dropped).
void Split(std::string_view line, int lineNumber, std::vector<Token>& out) {
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at >= line.size()) break;
    std::string word;
    while (at < line.size() && !IsBlank(line[at])) {
      if (line[at] == '"') {
        const size_t close = line.find('"', at + 1);
        const size_t stop = close == std::string_view::npos ? line.size() : close;
        word.append(line.substr(at + 1, stop - at - 1));
        at = stop == line.size() ? stop : stop + 1;
      } else {
        word += line[at++];
      }
    }
    out.push_back({word, lineNumber});
  }
}

struct Section {
  std::string name;  // upper case, without the '>'
  int line = 0;
  std::map<std::string, std::string> attributes;  // upper-case keys
  std::map<std::string, int> attributeLines;      // the line of each attribute
  long count = -1;                                // the //N count, -1 when not given
  int countLine = 0;                              // the line of the count
  std::vector<Token> body;                        // words after the header, in order
};

// Attributes "KEY=VALUE" (also "KEY = VALUE") among the words; the rest stay in `rest`.
void TakeAttributes(const std::vector<Token>& words, Section& section, std::vector<Token>& rest) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i].text;
    const size_t eq = w.find('=');
    if (eq != std::string::npos && eq > 0) {
      std::string value = w.substr(eq + 1);
      if (value.empty() && i + 1 < words.size()) value = words[++i].text;
      section.attributes[Upper(w.substr(0, eq))] = value;
      section.attributeLines[Upper(w.substr(0, eq))] = words[i].line;
    } else if (i + 2 < words.size() && words[i + 1].text == "=") {
      section.attributes[Upper(w)] = words[i + 2].text;
      section.attributeLines[Upper(w)] = words[i].line;
      i += 2;
    } else {
      rest.push_back(words[i]);
    }
  }
}

// Cuts the text into sections. Comment lines (">!...") are dropped; ">END" ends the file.
bool CutSections(std::string_view text, const Context& context, std::vector<Section>& sections,
                 std::string& error) {
  const std::vector<std::string_view> lines = Lines(text);
  for (size_t n = 0; n < lines.size(); ++n) {
    const int lineNumber = static_cast<int>(n) + 1;
    std::string_view line = lines[n];
    size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    line = line.substr(first);
    if (line.empty()) continue;
    if (line[0] != '>') {
      if (sections.empty()) {
        error = context.Where(lineNumber, "") + "text before the first section";
        return false;
      }
      // Attribute lines (EMPTY=1.0E32 under >HEAD, NCHAN=7 under >=SPECTRASECT) and a count
      // on a line of its own ("//7" before the channel list) belong to the section too.
      Section& current = sections.back();
      std::vector<Token> words, loose;
      Split(line, lineNumber, words);
      TakeAttributes(words, current, loose);
      for (size_t k = 0; k < loose.size(); ++k) {
        // "//7" or "// 7": the count, when nothing came before it.
        if (loose[k].text.rfind("//", 0) == 0 && current.count < 0 && current.body.empty()) {
          const bool apart = loose[k].text == "//" && k + 1 < loose.size();
          const std::optional<double> count =
              Number(apart ? std::string_view(loose[k + 1].text)
                           : std::string_view(loose[k].text).substr(2));
          if (count && *count >= 0 && *count <= kLargestCount && *count == std::floor(*count)) {
            current.count = static_cast<long>(*count);
            current.countLine = lineNumber;
            k += apart ? 1 : 0;
            continue;
          }
        }
        current.body.push_back(std::move(loose[k]));
      }
      continue;
    }
    if (line.size() > 1 && line[1] == '!') continue;
    Section section;
    section.line = lineNumber;
    size_t end = 1;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    section.name = Upper(line.substr(1, end - 1));
    if (section.name == "END") break;
    std::string_view rest = line.substr(end);
    const size_t slashes = rest.find("//");
    std::vector<Token> words;
    if (slashes != std::string_view::npos) {
      std::vector<Token> countWords;
      Split(rest.substr(slashes + 2), lineNumber, countWords);
      const std::optional<double> count =
          countWords.empty() ? std::nullopt : Number(countWords[0].text);
      if (!count) {
        error = context.Where(lineNumber, section.name) + "the count after // is not a number";
        return false;
      }
      if (*count < 0 || *count != std::floor(*count) || *count > kLargestCount) {
        error = context.Where(lineNumber, section.name) + "the count \"" + countWords[0].text +
                "\" after // is not a whole number from 0 to 10000000";
        return false;
      }
      section.count = static_cast<long>(*count);
      section.countLine = lineNumber;
      // Values may follow the count on the same line.
      for (size_t i = 1; i < countWords.size(); ++i) section.body.push_back(countWords[i]);
      rest = rest.substr(0, slashes);
    }
    Split(rest, lineNumber, words);
    std::vector<Token> loose;
    TakeAttributes(words, section, loose);
    section.body.insert(section.body.begin(), loose.begin(), loose.end());
    sections.push_back(std::move(section));
  }
  return true;
}

// The values of a numeric section: exactly //N of them when a count is given, each in the range
// of its quantity. EMPTY and NaN become kMissing. `lines` receives each value's line.
bool Values(const Section& section, double empty, const Context& context, Quantity quantity,
            std::vector<double>& values, std::vector<int>* lines, std::string& error) {
  values.clear();
  if (lines != nullptr) lines->clear();
  if (section.count >= 0 && static_cast<long>(section.body.size()) != section.count) {
    const int line = section.body.empty() ? section.line : section.body.back().line;
    error = context.Where(line, section.name) + "expected " + std::to_string(section.count) +
            " values, found " + std::to_string(section.body.size());
    return false;
  }
  for (const Token& token : section.body) {
    const std::optional<double> value = Number(token.text);
    if (!value) {
      error = context.Where(token.line, section.name) + "\"" + token.text + "\" is not a number";
      return false;
    }
    const bool missing = std::isnan(*value) || std::fabs(*value - empty) <= 1e-6 * std::fabs(empty);
    if (!missing) {
      if (const std::string problem = ValueProblem(quantity, *value, token.text);
          !problem.empty()) {
        error = context.Where(token.line, section.name) + problem;
        return false;
      }
    }
    values.push_back(missing ? kMissing : *value);
    if (lines != nullptr) lines->push_back(token.line);
  }
  return true;
}

struct Channels {
  int ex = -1, ey = -1, hx = -1, hy = -1, rx = -1, ry = -1;
};

bool SameId(const std::string& a, const std::string& b) {
  if (Upper(a) == Upper(b)) return true;
  const std::optional<double> x = Number(a), y = Number(b);
  return x && y && *x == *y;
}

// Places of the electric, magnetic and reference channels in the spectra matrices.
Channels FindChannels(const std::vector<std::string>& ids,
                      const std::vector<std::pair<std::string, std::string>>& types,
                      int channelCount) {
  Channels c;
  std::vector<std::string> kinds(static_cast<size_t>(channelCount));
  if (types.empty() || ids.empty()) {
    // Without measurement sections, the customary order.
    const char* order[] = {"HX", "HY", "HZ", "EX", "EY", "RX", "RY"};
    for (int k = 0; k < channelCount && k < 7; ++k) kinds[static_cast<size_t>(k)] = order[k];
  } else {
    for (int k = 0; k < channelCount && k < static_cast<int>(ids.size()); ++k) {
      for (const auto& [id, type] : types) {
        if (SameId(id, ids[static_cast<size_t>(k)])) kinds[static_cast<size_t>(k)] = Upper(type);
      }
    }
  }
  for (int k = 0; k < channelCount; ++k) {
    const std::string& kind = kinds[static_cast<size_t>(k)];
    int* local = kind == "EX"   ? &c.ex
                 : kind == "EY" ? &c.ey
                 : kind == "HX" ? &c.hx
                 : kind == "HY" ? &c.hy
                 : kind == "RX" ? &c.rx
                 : kind == "RY" ? &c.ry
                                : nullptr;
    if (local != nullptr && *local < 0) *local = k;
  }
  // Seven channels: the last two are the remote site's magnetic channels, whatever their type.
  if ((c.rx < 0 || c.ry < 0) && channelCount >= 7 && c.hx != channelCount - 2 &&
      c.hy != channelCount - 1) {
    c.rx = channelCount - 2;
    c.ry = channelCount - 1;
  }
  if (c.rx < 0 || c.ry < 0) {
    c.rx = c.hx;
    c.ry = c.hy;
  }
  return c;
}

// Z = S(E, R) S(H, R)^-1 from one matrix of auto- and cross-powers stored as the file does:
// the diagonal real, (i, j) for i < j the real and (j, i) the imaginary part of S(i, j).
Tensor TensorFromSpectra(const std::vector<double>& m, int n, const Channels& c) {
  auto s = [&](int i, int j) -> Complex {
    if (i == j) return {m[static_cast<size_t>(i * n + i)], 0.0};
    const int a = std::min(i, j), b = std::max(i, j);
    const Complex sab(m[static_cast<size_t>(a * n + b)], m[static_cast<size_t>(b * n + a)]);
    return i < j ? sab : std::conj(sab);
  };
  Tensor t;
  const Complex hr[2][2] = {{s(c.hx, c.rx), s(c.hx, c.ry)}, {s(c.hy, c.rx), s(c.hy, c.ry)}};
  const Complex er[2][2] = {{s(c.ex, c.rx), s(c.ex, c.ry)}, {s(c.ey, c.rx), s(c.ey, c.ry)}};
  const Complex det = hr[0][0] * hr[1][1] - hr[0][1] * hr[1][0];
  if (std::abs(det) == 0 || IsMissing(det)) return t;
  const Complex inverse[2][2] = {{hr[1][1] / det, -hr[0][1] / det},
                                 {-hr[1][0] / det, hr[0][0] / det}};
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) t.z[i][j] = er[i][0] * inverse[0][j] + er[i][1] * inverse[1][j];
  }
  return t;
}

// What the spectra section says of its channels: NCHAN, the count after // and the list of
// identifiers. They must agree, and with measurement sections in the file each identifier must
// name one: a count taken for identifiers would shift every channel of the matrices.
bool CheckChannelList(const Section& sect,
                      const std::vector<std::pair<std::string, std::string>>& types,
                      const Context& context, long& count, std::vector<std::string>& ids,
                      std::string& error) {
  auto fail = [&](int line, const std::string& what) {
    error = context.Where(line, sect.name) + what;
    return false;
  };
  auto isChannelCount = [](double n) { return n >= 4 && n <= 64 && n == std::floor(n); };
  for (const Token& t : sect.body) ids.push_back(t.text);
  std::string nchan;
  if (auto it = sect.attributes.find("NCHAN"); it != sect.attributes.end()) {
    nchan = it->second;
    const std::optional<double> n = Number(nchan);
    if (!n || !isChannelCount(*n)) {
      return fail(sect.attributeLines.at("NCHAN"),
                  "NCHAN=" + nchan + " is not a channel count of 4 to 64");
    }
    count = std::lround(*n);
  }
  if (sect.count >= 0) {
    if (count >= 0 && sect.count != count) {
      return fail(sect.countLine,
                  "NCHAN=" + nchan + " but the count after // is " + std::to_string(sect.count));
    }
    if (!isChannelCount(static_cast<double>(sect.count))) {
      return fail(sect.countLine,
                  "//" + std::to_string(sect.count) + " is not a channel count of 4 to 64");
    }
    count = sect.count;
  }
  if (ids.empty()) return true;
  if (count >= 0 && static_cast<long>(ids.size()) != count) {
    const size_t at = std::min(ids.size(), static_cast<size_t>(count + 1)) - 1;
    return fail(sect.body[at].line, std::to_string(ids.size()) + " channel identifiers for " +
                                        std::to_string(count) + " channels");
  }
  if (!isChannelCount(static_cast<double>(ids.size()))) {
    return fail(sect.body.back().line, std::to_string(ids.size()) +
                                           " channel identifiers are not a channel count of 4 "
                                           "to 64");
  }
  count = static_cast<long>(ids.size());
  if (types.empty()) return true;
  for (const Token& t : sect.body) {
    if (std::none_of(types.begin(), types.end(),
                     [&](const auto& type) { return SameId(type.first, t.text); })) {
      return fail(t.line, "channel \"" + t.text + "\" is not the ID of a >HMEAS or >EMEAS section");
    }
  }
  return true;
}

// The number an attribute of a >SPECTRA section gives (FREQ=, ROTSPEC=); `value` stays as it is
// when the attribute is absent.
bool SpectraAttribute(const Section& s, const std::string& key, Quantity quantity,
                      const Context& context, double& value, std::string& error) {
  auto it = s.attributes.find(key);
  if (it == s.attributes.end()) return true;
  const int line = s.attributeLines.at(key);
  const std::optional<double> number = Number(it->second);
  if (!number) {
    error = context.Where(line, s.name) + key + "=" + it->second + " is not a number";
    return false;
  }
  if (const std::string problem = ValueProblem(quantity, *number, it->second); !problem.empty()) {
    error = context.Where(line, s.name) + problem;
    return false;
  }
  value = *number;
  return true;
}

// The sections of a file by their role.
struct EdiFile {
  double empty = kDefaultEmpty;  // a value equal to it is missing
  const Section* freq = nullptr;
  std::map<std::string, const Section*> byName;  // the numeric sections
  std::vector<const Section*> spectra;
  const Section* spectraSect = nullptr;
  std::vector<std::pair<std::string, std::string>> channelTypes;  // ID, CHTYPE
  bool tipper = false;
  bool Has(const std::string& name) const { return byName.count(name) != 0; }
};

bool SortSections(const std::vector<Section>& sections, const Context& context, EdiFile& file,
                  std::string& error) {
  for (const Section& s : sections) {
    if (s.name == "HEAD") {
      if (auto it = s.attributes.find("EMPTY"); it != s.attributes.end()) {
        const std::optional<double> value = Number(it->second);
        if (!value || *value == 0 || !std::isfinite(*value)) {
          error = context.Where(s.line, s.name) + "EMPTY=" + it->second + " is not a number";
          return false;
        }
        file.empty = *value;
      }
    } else if (s.name == "FREQ") {
      file.freq = &s;
    } else if (s.name == "SPECTRA") {
      file.spectra.push_back(&s);
    } else if (s.name == "=SPECTRASECT") {
      file.spectraSect = &s;
    } else if (s.name == "HMEAS" || s.name == "EMEAS") {
      auto id = s.attributes.find("ID");
      auto type = s.attributes.find("CHTYPE");
      if (id != s.attributes.end() && type != s.attributes.end()) {
        file.channelTypes.emplace_back(id->second, type->second);
      }
    } else {
      file.byName[s.name] = &s;
      file.tipper = file.tipper || s.name.rfind("TX", 0) == 0 || s.name.rfind("TY", 0) == 0 ||
                    s.name.rfind("TIP", 0) == 0;
    }
  }
  return true;
}

// Notes an angle the file gives its values at (NaN: none), for the summary.
void NoteAngle(Sounding& sounding, const char* from, double angle) {
  if (std::isnan(angle)) return;
  if (sounding.rotationName.empty()) sounding.rotationLow = sounding.rotationHigh = angle;
  sounding.rotationName = from;
  sounding.rotationLow = std::min(sounding.rotationLow, angle);
  sounding.rotationHigh = std::max(sounding.rotationHigh, angle);
}

// One point per frequency of >FREQ from the impedance sections (`haveZ`) or the apparent
// resistivity and phase sections.
bool ImpedancePoints(const EdiFile& file, bool haveZ, const Context& context,
                     const ReadOptions& options, Sounding& sounding, std::string& error) {
  const Section* freq = file.freq;
  const double empty = file.empty;
  if (freq == nullptr) {
    error = context.name + ": no >FREQ section";
    return false;
  }
  std::vector<double> f;
  std::vector<int> fLines;
  if (!Values(*freq, empty, context, Quantity::kFrequency, f, &fLines, error)) {
    return false;
  }
  const size_t nf = f.size();
  if (auto it = freq->attributes.find("NFREQ"); it != freq->attributes.end()) {
    const std::optional<double> n = Number(it->second);
    if (!n || *n != static_cast<double>(nf)) {
      error = context.Where(freq->line, freq->name) + "NFREQ=" + it->second + " but " +
              std::to_string(nf) + " frequencies follow";
      return false;
    }
  }
  // Reads one section of nf values into `out`; an absent section leaves `out` as it is.
  auto read = [&](const std::string& n, Quantity quantity, auto store) -> bool {
    auto it = file.byName.find(n);
    if (it == file.byName.end()) return true;
    std::vector<double> v;
    if (!Values(*it->second, empty, context, quantity, v, nullptr, error)) return false;
    if (v.size() != nf) {
      error = context.Where(it->second->line, n) + std::to_string(v.size()) + " values for " +
              std::to_string(nf) + " frequencies";
      return false;
    }
    for (size_t i = 0; i < nf; ++i) store(i, v[i]);
    return true;
  };
  std::vector<Tensor> tensors(nf);
  std::vector<RhoPhase> rp(nf);
  std::vector<double> angles(nf, 0.0);
  const char* angleName = haveZ ? "ZROT" : "RHOROT";
  if (!read(angleName, Quantity::kAngle, [&](size_t k, double v) { angles[k] = v; })) {
    return false;
  }
  for (double angle : angles) NoteAngle(sounding, angleName, angle);
  const char* comp[2][2] = {{"ZXX", "ZXY"}, {"ZYX", "ZYY"}};
  if (haveZ) {
    const bool whole = options.component == Component::kDeterminant || options.rotateTo;
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) {
        const std::string base = comp[i][j];
        const bool needed =
            whole || (i != j && (options.component == Component::kMean ||
                                 (options.component == Component::kXY) == (i == 0)));
        if (needed && (!file.Has(base + "R") || !file.Has(base + "I"))) {
          error = context.name + ": no >" + base + (file.Has(base + "R") ? "I" : "R") +
                  " section, which " +
                  (options.rotateTo
                       ? std::string("--rotate")
                       : std::string("the ") + ComponentName(options.component) + " response") +
                  " needs";
          return false;
        }
        if (!read(base + "R", Quantity::kImpedance,
                  [&](size_t k, double v) { tensors[k].z[i][j].real(v); }) ||
            !read(base + "I", Quantity::kImpedance,
                  [&](size_t k, double v) { tensors[k].z[i][j].imag(v); }) ||
            !read(base + ".VAR", Quantity::kVariance,
                  [&](size_t k, double v) { tensors[k].var[i][j] = v; })) {
          return false;
        }
      }
    }
    sounding.source = "impedance sections";
  } else {
    // Apparent resistivities and phases cannot be turned to another angle.
    if (options.rotateTo) {
      for (double angle : angles) {
        if (!std::isnan(angle) && angle != *options.rotateTo) {
          error = context.name + ": --rotate " + Printf("%g", *options.rotateTo) +
                  " needs the impedance tensor, but the file holds apparent resistivity "
                  "and phase at " +
                  Printf("%g", angle) + " degrees (RHOROT)";
          return false;
        }
      }
    }
    const char* names[2] = {"XY", "YX"};
    for (int k = 0; k < 2; ++k) {
      const std::string n = names[k];
      if (!read("RHO" + n, Quantity::kResistivity, [&](size_t i, double v) { rp[i].rho[k] = v; }) ||
          !read("PHS" + n, Quantity::kPhase, [&](size_t i, double v) { rp[i].phs[k] = v; }) ||
          !read("RHO" + n + ".ERR", Quantity::kError,
                [&](size_t i, double v) { rp[i].rhoErr[k] = v; }) ||
          !read("PHS" + n + ".ERR", Quantity::kError,
                [&](size_t i, double v) { rp[i].phsErr[k] = v; })) {
        return false;
      }
    }
    sounding.source = "apparent resistivity and phase sections";
  }
  for (size_t i = 0; i < nf; ++i) {
    Complex z;
    double dz = 0;
    const double period = 1.0 / f[i];
    Tensor tensor = tensors[i];
    if (haveZ && options.rotateTo && *options.rotateTo != angles[i]) {
      tensor = Rotated(tensor, *options.rotateTo - angles[i]);
    }
    const bool ok = !std::isnan(f[i]) &&
                    (haveZ ? ResponseOfTensor(tensor, options.component, z, dz)
                           : ResponseOfRhoPhase(rp[i], period, options.component, z, dz)) &&
                    std::abs(z) > 0;
    if (!ok) {
      sounding.points.push_back(
          {period, kMissing, kMissing, kMissing, kMissing, PointStatus::kMissing});
      continue;
    }
    const MeasuredPoint point = PointFromImpedance(period, z, dz, options.errorFloor);
    if (!IsFinitePoint(point)) {
      error = context.Where(fLines[i], "FREQ") + "the response at " + Printf("%g", f[i]) +
              " Hz is out of range";
      return false;
    }
    sounding.points.push_back(point);
  }
  return true;
}

// One point per >SPECTRA section.
bool SpectraPoints(const EdiFile& file, const Context& context, const ReadOptions& options,
                   Sounding& sounding, std::string& error) {
  const double empty = file.empty;
  const auto& spectra = file.spectra;
  const Section* spectraSect = file.spectraSect;
  const auto& channelTypes = file.channelTypes;
  long channelCount = -1;
  std::vector<std::string> ids;
  if (spectraSect != nullptr) {
    if (!CheckChannelList(*spectraSect, channelTypes, context, channelCount, ids, error)) {
      return false;
    }
    if (auto it = spectraSect->attributes.find("NFREQ"); it != spectraSect->attributes.end()) {
      const std::optional<double> n = Number(it->second);
      if (!n || *n != static_cast<double>(spectra.size())) {
        error = context.Where(spectraSect->line, spectraSect->name) + "NFREQ=" + it->second +
                " but " + std::to_string(spectra.size()) + " >SPECTRA sections follow";
        return false;
      }
    }
  }
  for (const Section* s : spectra) {
    long n = channelCount;
    if (n < 0 && s->count > 0) {
      n = std::lround(std::sqrt(static_cast<double>(s->count)));
      if (n * n != s->count) n = -1;
    }
    if (n < 4 || n > 64) {
      error = context.Where(s->line, s->name) + "the number of channels is not known";
      return false;
    }
    if (s->count >= 0 && s->count != n * n) {
      error = context.Where(s->countLine, s->name) + "//" + std::to_string(s->count) +
              " disagrees with " + std::to_string(n) + " channels (" + std::to_string(n * n) +
              " values)";
      return false;
    }
    double f = kMissing, angle = 0;
    if (!SpectraAttribute(*s, "FREQ", Quantity::kFrequency, context, f, error) ||
        !SpectraAttribute(*s, "ROTSPEC", Quantity::kAngle, context, angle, error)) {
      return false;
    }
    if (std::isnan(f)) {
      error = context.Where(s->line, s->name) + "FREQ= is missing";
      return false;
    }
    if (s->attributes.count("ROTSPEC") != 0) NoteAngle(sounding, "ROTSPEC", angle);
    std::vector<double> m;
    if (!Values(*s, empty, context, Quantity::kAny, m, nullptr, error)) return false;
    if (static_cast<long>(m.size()) != n * n) {
      error = context.Where(s->line, s->name) + "expected " + std::to_string(n * n) +
              " values for " + std::to_string(n) + " channels, found " + std::to_string(m.size());
      return false;
    }
    const Channels c = FindChannels(ids, channelTypes, static_cast<int>(n));
    if (c.ex < 0 || c.ey < 0 || c.hx < 0 || c.hy < 0) {
      error =
          context.Where(s->line, s->name) + "the channels EX, EY, HX and HY are not all identified";
      return false;
    }
    Tensor t = TensorFromSpectra(m, static_cast<int>(n), c);
    if (options.rotateTo && *options.rotateTo != angle) t = Rotated(t, *options.rotateTo - angle);
    Complex z;
    double dz = 0;
    if (!ResponseOfTensor(t, options.component, z, dz) || !(std::abs(z) > 0)) {
      sounding.points.push_back(
          {1.0 / f, kMissing, kMissing, kMissing, kMissing, PointStatus::kMissing});
      continue;
    }
    const MeasuredPoint point = PointFromImpedance(1.0 / f, z, dz, options.errorFloor);
    if (!IsFinitePoint(point)) {
      error = context.Where(s->line, s->name) + "the impedance at " + Printf("%g", f) +
              " Hz is out of range";
      return false;
    }
    sounding.points.push_back(point);
  }
  sounding.source =
      spectraSect != nullptr && channelCount >= 7 ? "spectra with remote reference" : "spectra";
  return true;
}

}  // namespace

ReadResult ParseEdi(std::string_view text, std::string_view name, const ReadOptions& options) {
  const Context context{std::string(name)};
  std::string error;
  std::vector<Section> sections;
  EdiFile file;
  if (!CutSections(WithoutByteOrderMark(text), context, sections, error) ||
      !SortSections(sections, context, file, error)) {
    return {{}, error};
  }
  Sounding sounding;
  sounding.tipper = file.tipper;
  const bool tensor = file.Has("ZXYR") || file.Has("ZYXR") || file.Has("ZXXR") || file.Has("ZYYR");
  bool read = false;
  if (tensor || file.Has("RHOXY") || file.Has("RHOYX")) {
    read = ImpedancePoints(file, tensor, context, options, sounding, error);
  } else if (!file.spectra.empty()) {
    read = SpectraPoints(file, context, options, sounding, error);
  } else {
    error = context.name +
            ": no impedance (>ZXYR), apparent resistivity (>RHOXY) or spectra (>SPECTRA) "
            "sections";
  }
  if (!read) return {{}, error};
  return Finish(context, std::move(sounding), options);
}

}  // namespace vesk1::mt
