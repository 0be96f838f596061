// A small writer of inline SVG: the shapes the report's pictures need, every text escaped.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orvanta::report {

std::string escapeXml(const std::string& text);

class SvgWriter {
public:
    SvgWriter(double width, double height, const std::string& title);

    void rect(double x, double y, double width, double height, const std::string& fill,
              const std::string& tooltip = {});
    void line(double x1, double y1, double x2, double y2, const std::string& stroke, double width = 1,
              bool dashed = false);
    void polyline(const std::vector<std::pair<double, double>>& points, const std::string& stroke,
                  double width);
    void circle(double x, double y, double radius, const std::string& fill);
    // anchor: "start", "middle" or "end"; rotate: degrees about the anchor point.
    void text(double x, double y, const std::string& content, const std::string& anchor = "start",
              double size = 11, double rotate = 0, const std::string& fill = "#222");

    std::string finish();

private:
    std::string body_;
};

}  // namespace orvanta::report
