// The stations of a profile: where each stands (from its file's header or from a table of
// positions), and their distances along the line that runs through them.
#ifndef VESK1_MT_STATIONS_H
#define VESK1_MT_STATIONS_H

#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk1::mt {

// Where a station stands as its file gives it: degrees north and east (south and west
// negative) and metres above sea level (NaN when not given).
struct GeoPosition {
  double latitude = 0, longitude = 0;
  double elevation = std::numeric_limits<double>::quiet_NaN();
};

// Degrees as files write them: decimal ("-30.52") or degrees:minutes[:seconds]
// ("-30:31:12.3"), the sign before the degrees applying to the whole; minutes and seconds from
// 0 to below 60. Nothing when the text is not one of these or exceeds `limit` in magnitude.
std::optional<double> ParseDegrees(std::string_view text, double limit);

// A position on a plane, in metres: east and north of some origin.
struct PlanePoint {
  double east = 0, north = 0;
};

// Positions on the plane tangent to the earth at their mean, in metres (the WGS84 ellipsoid's
// radii of curvature at the mean latitude); exact enough for lines of some tens of kilometres.
std::vector<PlanePoint> LocalMetres(const std::vector<GeoPosition>& positions);

// Points projected onto a line on the plane.
struct LineProjection {
  double azimuth = 0;             // of the line, degrees clockwise from north, 0 to below 360
  std::vector<double> distance;   // metres along the line, the least 0, one per point
  std::vector<double> offset;     // metres from the line, positive to its left
  size_t worst = 0;               // the point farthest from the line
};

// Projects points onto the line through their centroid at `azimuth` degrees, distances growing
// towards it, or, without one, onto the line that fits them best (the least sum of squared
// distances from it), its azimuth taken from 0 to below 180 degrees so that distances grow
// towards the east (towards the north on a line due north). With one point, or points all in
// one place, every distance is 0.
LineProjection ProjectOntoLine(const std::vector<PlanePoint>& points,
                               std::optional<double> azimuth);

struct StationTable {
  std::map<std::string, PlanePoint> byName;  // x east, y north, metres
  std::string error;  // "FILE: line N: what is wrong"; empty when the table was read
};

// Reads a table of station positions: CSV lines "name,x,y" in metres (x east, y north); '#'
// starts a comment, a first line whose x is not a number is a header. A name given twice is
// an error.
StationTable ParseStationTable(std::string_view text, std::string_view fileName);

}  // namespace vesk1::mt

#endif  // VESK1_MT_STATIONS_H
