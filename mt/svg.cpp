#include "mt/svg.h"

#include "mt/format.h"

namespace vesk1::mt::svg {

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters other than tab are not allowed in XML 1.0.
        out += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? ' ' : c;
    }
  }
  return out;
}

std::string Signed(long value) {
  return (value < 0 ? "\u2212" : "") + std::to_string(value < 0 ? -value : value);
}

std::string PowerOfTen(int exponent) {
  return "10<tspan dy=\"-6\" font-size=\"9\">" + Signed(exponent) + "</tspan>";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& colour,
                 double width, const char* extra) {
  return Printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" ", x1, y1, x2, y2) +
         "stroke=\"" + colour + "\" stroke-width=\"" + Printf("%.1f", width) + "\"" + extra +
         "/>\n";
}

std::string Label(double x, double y, const char* anchor, const std::string& text) {
  return Printf("<text x=\"%.1f\" y=\"%.1f\" ", x, y) + "text-anchor=\"" + anchor + "\" " + kText +
         ">" + text + "</text>\n";
}

std::string Frame(double left, double top, double width, double height, const char* name) {
  return std::string("<rect class=\"") + name + "\" " +
         Printf("x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ", left, top, width, height) +
         "fill=\"none\" stroke=\"#404040\" stroke-width=\"1\"/>\n";
}

std::string AxisTitle(double x, double y, const char* text) {
  return Printf("<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\" ", x,
                y) +
         kText + ">" + text + "</text>\n";
}

std::string SvgOpening(double width, double height, double titleX, std::string_view title) {
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += Printf(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
      "viewBox=\"0 0 %.0f %.0f\">\n",
      width, height, width, height);
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += Printf("<text x=\"%.1f\" y=\"30\" text-anchor=\"middle\" ", titleX) +
         "font-family=\"sans-serif\" font-size=\"16\" fill=\"#202020\">" + Escaped(title) +
         "</text>\n";
  return svg;
}


}  // namespace vesk1::mt::svg
