#pragma once
// A chart of the online time per day over a range of days: a bar per day,
// stacked by connection, an hours axis, dated days and a legend. Drawn with
// Qt's own painting, offscreen: into a QImage for PNG, into Qt SVG's
// generator for SVG. Needs a QGuiApplication (fonts), on any platform
// plugin, "offscreen" included.

#include <string>
#include <vector>

#include "report/OnlineTotals.h"

class ConnectionNames;

constexpr int CHART_WIDTH = 1000;
constexpr int CHART_HEIGHT = 400;

// Writes the chart of `days` (in the order of OnlineTotals::days) to `path`,
// a PNG or SVG file by its name's ending. The range runs from the first to
// the last day of `days` where `range` leaves an end open. On failure,
// false with the reason in `error`.
bool writeOnlineChart(const std::string& path, const std::vector<DayTotal>& days, const ConnectionNames& names,
                      DayRange range, std::string& error);
