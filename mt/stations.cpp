#include "mt/stations.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "mt/readers/text.h"
#include "mt/response.h"

namespace vesk1::mt {
namespace {

// The WGS84 ellipsoid: equatorial radius (m) and flattening.
constexpr double kEquatorialRadius = 6378137.0;
constexpr double kFlattening = 1 / 298.257223563;
constexpr double kMinutesPerDegree = 60;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// An unsigned decimal number filling the text: digits with at most one point, no exponent.
std::optional<double> Unsigned(std::string_view text, bool whole) {
  bool digit = false, point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point && !whole) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit) return std::nullopt;
  return std::strtod(std::string(text).c_str(), nullptr);
}

double Radians(double degrees) {
  return degrees * kPi / 180;
}

// The longitude's difference from `reference` in (-180, 180].
double Unwrapped(double longitude, double reference) {
  double d = std::fmod(longitude - reference, 360.0);
  if (d > 180) d -= 360;
  if (d <= -180) d += 360;
  return d;
}

}  // namespace

std::optional<double> ParseDegrees(std::string_view text, double limit) {
  text = Trimmed(text);
  double sign = 1;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
  }
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (parts.size() > 3) return std::nullopt;
  double value = 0, unit = 1;
  for (size_t k = 0; k < parts.size(); ++k) {
    // Every part but the last is whole; minutes and seconds stay below 60.
    const std::optional<double> part = Unsigned(parts[k], k + 1 < parts.size());
    if (!part || (k > 0 && *part >= kMinutesPerDegree)) return std::nullopt;
    value += *part / unit;
    unit *= kMinutesPerDegree;
  }
  if (value > limit) return std::nullopt;
  return sign * value;
}

std::vector<PlanePoint> LocalMetres(const std::vector<GeoPosition>& positions) {
  std::vector<PlanePoint> points;
  if (positions.empty()) return points;
  double latitude = 0, longitude = 0;
  for (const GeoPosition& p : positions) {
    latitude += p.latitude;
    longitude += Unwrapped(p.longitude, positions.front().longitude);
  }
  latitude /= static_cast<double>(positions.size());
  longitude = positions.front().longitude + longitude / static_cast<double>(positions.size());
  // Radii of curvature along the meridian and across it at the mean latitude.
  const double e2 = kFlattening * (2 - kFlattening);
  const double s = std::sin(Radians(latitude));
  const double w = std::sqrt(1 - e2 * s * s);
  const double northPerDegree = Radians(kEquatorialRadius * (1 - e2) / (w * w * w));
  const double eastPerDegree = Radians(kEquatorialRadius / w * std::cos(Radians(latitude)));
  for (const GeoPosition& p : positions) {
    points.push_back({Unwrapped(p.longitude, longitude) * eastPerDegree,
                      (p.latitude - latitude) * northPerDegree});
  }
  return points;
}

LineProjection ProjectOntoLine(const std::vector<PlanePoint>& points,
                               std::optional<double> azimuth) {
  LineProjection line;
  const double n = static_cast<double>(std::max<size_t>(points.size(), 1));
  double east = 0, north = 0;
  for (const PlanePoint& p : points) {
    east += p.east / n;
    north += p.north / n;
  }
  if (azimuth) {
    line.azimuth = std::fmod(std::fmod(*azimuth, 360.0) + 360.0, 360.0);
  } else {
    // The principal axis of the points' scatter, as an angle from east.
    double see = 0, snn = 0, sen = 0;
    for (const PlanePoint& p : points) {
      see += (p.east - east) * (p.east - east);
      snn += (p.north - north) * (p.north - north);
      sen += (p.east - east) * (p.north - north);
    }
    const double fromEast = 0.5 * std::atan2(2 * sen, see - snn);
    line.azimuth = std::fmod(90 - fromEast * 180 / kPi + 360.0, 180.0);
  }
  const double de = std::sin(Radians(line.azimuth)), dn = std::cos(Radians(line.azimuth));
  double least = 0;
  for (size_t k = 0; k < points.size(); ++k) {
    const double e = points[k].east - east, m = points[k].north - north;
    line.distance.push_back(e * de + m * dn);
    line.offset.push_back(-e * dn + m * de);
    least = k == 0 ? line.distance[k] : std::min(least, line.distance[k]);
    if (std::fabs(line.offset[k]) > std::fabs(line.offset[line.worst])) line.worst = k;
  }
  for (double& d : line.distance) d -= least;
  return line;
}

StationTable ParseStationTable(std::string_view text, std::string_view fileName) {
  StationTable table;
  const std::vector<std::string_view> lines = readers::Lines(readers::WithoutByteOrderMark(text));
  bool first = true;
  for (size_t k = 0; k < lines.size(); ++k) {
    std::string_view line = lines[k];
    line = Trimmed(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
      const size_t comma = line.find(',', start);
      fields.push_back(Trimmed(line.substr(start, comma == line.npos ? comma : comma - start)));
      if (comma == line.npos) break;
      start = comma + 1;
    }
    const std::string where = std::string(fileName) + ": line " + std::to_string(k + 1) + ": ";
    const std::optional<double> x =
        fields.size() >= 3 ? readers::Number(fields[1]) : std::nullopt;
    const std::optional<double> y =
        fields.size() >= 3 ? readers::Number(fields[2]) : std::nullopt;
    const bool header = first && fields.size() >= 3 && !x;
    first = false;
    if (header) continue;
    if (fields.size() < 3 || fields[0].empty()) {
      table.error = where + "expected name,x,y";
      return table;
    }
    if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y)) {
      table.error = where + "the position of " + std::string(fields[0]) +
                    " is not two finite numbers of metres";
      return table;
    }
    if (!table.byName.emplace(std::string(fields[0]), PlanePoint{*x, *y}).second) {
      table.error = where + std::string(fields[0]) + " is given twice";
      return table;
    }
  }
  return table;
}

}  // namespace vesk1::mt
