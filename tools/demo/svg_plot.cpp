#include "tools/demo/svg_plot.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kPanelW = 560, kPanelH = 440;                     // one panel, margins included
constexpr double kLeft = 70, kRight = 20, kTop = 40, kBottom = 60; // margins
constexpr double kTitleH = 40;                                     // figure title above the panels

std::string fmt(const char* f, double a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, a);
    return buf;
}

// "100", "1k", "20k": tick labels of a frequency axis stay short.
std::string tick_text(double v) {
    if (std::fabs(v) >= 1000) return fmt("%gk", v / 1000);
    return fmt("%g", v);
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// Where a value lands along an axis, 0..1.
double along(const PlotAxis& a, double v) {
    if (a.log) return std::log(v / a.min) / std::log(a.max / a.min);
    return (v - a.min) / (a.max - a.min);
}

void text(std::string& svg, double x, double y, const std::string& s, const char* anchor, int size,
          const char* extra = "") {
    svg += "<text x=\"" + fmt("%.1f", x) + "\" y=\"" + fmt("%.1f", y) + "\" text-anchor=\"" +
           anchor + "\" font-size=\"" + std::to_string(size) + "\"" + extra + ">" + escape(s) +
           "</text>\n";
}

void line(std::string& svg, double x1, double y1, double x2, double y2, const char* style) {
    svg += "<line x1=\"" + fmt("%.1f", x1) + "\" y1=\"" + fmt("%.1f", y1) + "\" x2=\"" +
           fmt("%.1f", x2) + "\" y2=\"" + fmt("%.1f", y2) + "\" " + style + "/>\n";
}

void panel(std::string& svg, const PlotPanel& p, double ox, double oy) {
    const double x0 = ox + kLeft, y0 = oy + kTop;
    const double w = kPanelW - kLeft - kRight, h = kPanelH - kTop - kBottom;
    const auto px = [&](double v) { return x0 + w * along(p.x, v); };
    const auto py = [&](double v) { return y0 + h * (1 - along(p.y, v)); };

    text(svg, x0 + w / 2, oy + 24, p.title, "middle", 15, " font-weight=\"bold\"");
    for (double t : p.x.ticks) {
        line(svg, px(t), y0, px(t), y0 + h, "stroke=\"#ddd\"");
        text(svg, px(t), y0 + h + 18, tick_text(t), "middle", 12);
    }
    for (double t : p.y.ticks) {
        line(svg, x0, py(t), x0 + w, py(t), "stroke=\"#ddd\"");
        text(svg, x0 - 8, py(t) + 4, tick_text(t), "end", 12);
    }
    svg += "<rect x=\"" + fmt("%.1f", x0) + "\" y=\"" + fmt("%.1f", y0) + "\" width=\"" +
           fmt("%.1f", w) + "\" height=\"" + fmt("%.1f", h) +
           "\" fill=\"none\" stroke=\"#333\"/>\n";
    text(svg, x0 + w / 2, y0 + h + 44, p.x.label, "middle", 13);
    const double ly = y0 + h / 2;
    text(svg, x0 - 50, ly, p.y.label, "middle", 13,
         (" transform=\"rotate(-90 " + fmt("%.1f", x0 - 50) + " " + fmt("%.1f", ly) + ")\"")
             .c_str());

    // Each curve is clipped to the plot area.
    const std::string clip = "clip" + fmt("%.0f", ox);
    svg += "<clipPath id=\"" + clip + "\"><rect x=\"" + fmt("%.1f", x0) + "\" y=\"" +
           fmt("%.1f", y0) + "\" width=\"" + fmt("%.1f", w) + "\" height=\"" + fmt("%.1f", h) +
           "\"/></clipPath>\n";
    for (const PlotSeries& s : p.series) {
        svg += "<polyline clip-path=\"url(#" + clip + ")\" fill=\"none\" stroke-width=\"2\" " +
               "stroke=\"" + s.color + "\" points=\"";
        for (const auto& [x, y] : s.points) {
            if (p.x.log && x <= 0) continue;
            svg += fmt("%.1f", px(x)) + "," + fmt("%.1f", py(y)) + " ";
        }
        svg += "\"/>\n";
    }
    // Legend, top left inside the plot.
    double ky = y0 + 18;
    for (const PlotSeries& s : p.series) {
        if (s.label.empty()) continue;
        line(svg, x0 + 12, ky - 4, x0 + 36, ky - 4,
             ("stroke-width=\"3\" stroke=\"" + s.color + "\"").c_str());
        text(svg, x0 + 42, ky, s.label, "start", 12);
        ky += 18;
    }
}

} // namespace

std::string svg_figure(const std::string& title, const std::vector<PlotPanel>& panels) {
    const double width = kPanelW * static_cast<double>(panels.size());
    const double height = kPanelH + kTitleH;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fmt("%.0f", width) +
                      "\" height=\"" + fmt("%.0f", height) + "\" font-family=\"sans-serif\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    text(svg, width / 2, 28, title, "middle", 18, " font-weight=\"bold\"");
    for (size_t i = 0; i < panels.size(); ++i)
        panel(svg, panels[i], kPanelW * static_cast<double>(i), kTitleH);
    svg += "</svg>\n";
    return svg;
}
