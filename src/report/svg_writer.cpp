#include "report/svg_writer.h"

#include "report/report_time.h"

namespace orvanta::report {

namespace {

// Two decimals are finer than a screen's pixel; shorter numbers keep a year's picture small.
std::string num(double value) {
    std::string text = formatFixed(value, 2);
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

}  // namespace

std::string escapeXml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                // Control characters are not allowed in XML 1.0 at all.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
                    escaped += ' ';
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

SvgWriter::SvgWriter(double width, double height, const std::string& title) {
    body_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" + num(height) +
            "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
            "\" role=\"img\" font-family=\"sans-serif\" shape-rendering=\"crispEdges\">" + "<title>" +
            escapeXml(title) + "</title>\n";
}

void SvgWriter::rect(double x, double y, double width, double height, const std::string& fill,
                     const std::string& tooltip) {
    body_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(width) + "\" height=\"" +
             num(height) + "\" fill=\"" + escapeXml(fill) + "\"";
    body_ += tooltip.empty() ? "/>\n" : "><title>" + escapeXml(tooltip) + "</title></rect>\n";
}

void SvgWriter::line(double x1, double y1, double x2, double y2, const std::string& stroke, double width,
                     bool dashed) {
    body_ += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" + num(y2) +
             "\" stroke=\"" + escapeXml(stroke) + "\" stroke-width=\"" + num(width) + "\"" +
             (dashed ? " stroke-dasharray=\"6 4\"" : "") + "/>\n";
}

void SvgWriter::polyline(const std::vector<std::pair<double, double>>& points, const std::string& stroke,
                         double width) {
    body_ += "<polyline shape-rendering=\"geometricPrecision\" fill=\"none\" stroke=\"" + escapeXml(stroke) +
             "\" stroke-width=\"" + num(width) + "\" points=\"";
    for (const auto& [x, y] : points) body_ += num(x) + "," + num(y) + " ";
    body_ += "\"/>\n";
}

void SvgWriter::circle(double x, double y, double radius, const std::string& fill) {
    body_ += "<circle shape-rendering=\"geometricPrecision\" cx=\"" + num(x) + "\" cy=\"" + num(y) +
             "\" r=\"" + num(radius) + "\" fill=\"" + escapeXml(fill) + "\"/>\n";
}

void SvgWriter::text(double x, double y, const std::string& content, const std::string& anchor, double size,
                     double rotate, const std::string& fill) {
    body_ += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" font-size=\"" + num(size) + "\" fill=\"" +
             escapeXml(fill) + "\" text-anchor=\"" + escapeXml(anchor) + "\"";
    if (rotate != 0) body_ += " transform=\"rotate(" + num(rotate) + " " + num(x) + " " + num(y) + ")\"";
    body_ += ">" + escapeXml(content) + "</text>\n";
}

std::string SvgWriter::finish() { return body_ + "</svg>\n"; }

}  // namespace orvanta::report
