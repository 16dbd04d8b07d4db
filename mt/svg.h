// The pieces every SVG figure of mt/ is drawn with: escaped text, powers of ten, lines, labels,
// frames and the document's opening.
#ifndef VESK1_MT_SVG_H
#define VESK1_MT_SVG_H

#include <string>
#include <string_view>

namespace vesk1::mt::svg {

inline constexpr const char* kGrid = "stroke=\"#d0d0d0\" stroke-width=\"1\"";
inline constexpr const char* kText =
    "font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\"";

// The text with &, <, > and " escaped and control characters other than tab as blanks.
std::string Escaped(std::string_view text);
// A number with a typographic minus sign.
std::string Signed(long value);
// 10 with the exponent raised: the label of a decade.
std::string PowerOfTen(int exponent);

std::string Line(double x1, double y1, double x2, double y2, const std::string& colour,
                 double width, const char* extra = "");
// Text at (x, y) anchored "start", "middle" or "end"; `text` is markup, escaped by the caller.
std::string Label(double x, double y, const char* anchor, const std::string& text);
// An unfilled rectangle of class `name`.
std::string Frame(double left, double top, double width, double height, const char* name);
// Text turned upright along a vertical axis, centred at (x, y).
std::string AxisTitle(double x, double y, const char* text);
// The document's start: size, white background and the title centred at `titleX`.
std::string SvgOpening(double width, double height, double titleX, std::string_view title);

}  // namespace vesk1::mt::svg

#endif  // VESK1_MT_SVG_H
