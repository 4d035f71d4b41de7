// A small SVG line chart: panels side by side, each with labelled axes (linear or
// logarithmic), grid lines at the ticks, and a legend.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct PlotAxis {
    std::string label;
    double min, max;
    bool log;
    std::vector<double> ticks;
};

struct PlotSeries {
    std::string label;
    std::string color;                             // any SVG colour
    std::vector<std::pair<double, double>> points; // (x, y); drawn clipped to the axes
};

struct PlotPanel {
    std::string title;
    PlotAxis x, y;
    std::vector<PlotSeries> series;
};

std::string svg_figure(const std::string& title, const std::vector<PlotPanel>& panels);
