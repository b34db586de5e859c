#include "report/OnlineChart.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <map>

#include "basis/WritableFile.h"
#include "report/ConnectionNames.h"
#include "report/ReportFormatting.h"

namespace {

// Colours that stay apart from each other and from the grid.
const QColor PALETTE[] = {QColor(0x4e, 0x79, 0xa7), QColor(0xf2, 0x8e, 0x2b), QColor(0xe1, 0x57, 0x59),
                          QColor(0x76, 0xb7, 0xb2), QColor(0x59, 0xa1, 0x4f), QColor(0xed, 0xc9, 0x48),
                          QColor(0xb0, 0x7a, 0xa1), QColor(0xff, 0x9d, 0xa7), QColor(0x9c, 0x75, 0x5f),
                          QColor(0xba, 0xb0, 0xac)};
constexpr int LEFT = 64, RIGHT = 20, TOP = 48, BOTTOM = 40;
constexpr double HOUR_MS = 3600000.0;

QString qText(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// A step of the hours axis that gives at most six lines up to `maxHours`.
double hourStep(double maxHours) {
  for (double step : {0.25, 0.5, 1.0, 2.0, 3.0, 4.0, 6.0, 12.0, 24.0, 48.0, 96.0}) {
    if (maxHours / step <= 6.0) return step;
  }
  return std::ceil(maxHours / 6.0);
}

// "2 h", or "1:30 h" where the step is a part of an hour.
QString hoursLabel(double hours) {
  const int minutes = static_cast<int>(std::lround(hours * 60));
  if (minutes % 60 == 0) return QString::number(minutes / 60) + " h";
  return QString("%1:%2 h").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar('0'));
}

class Chart {
 public:
  Chart(const std::vector<DayTotal>& days, const ConnectionNames& names, DayRange range)
      : days_(days), names_(names) {
    for (const DayTotal& day : days) {
      if (day.ms <= 0) continue;
      perDay_[day.day] += day.ms;
      order_.push_back(day.name);
    }
    std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) { return names.less(a, b); });
    order_.erase(std::unique(order_.begin(), order_.end()), order_.end());
    first_ = range.first != INT64_MIN ? range.first : days.empty() ? 0 : days.front().day;
    last_ = range.last != INT64_MAX ? range.last : days.empty() ? first_ : days.back().day;
  }

  void paint(QPainter& painter) const {
    painter.fillRect(0, 0, CHART_WIDTH, CHART_HEIGHT, Qt::white);
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QRect plot(LEFT, TOP, CHART_WIDTH - LEFT - RIGHT, CHART_HEIGHT - TOP - BOTTOM);

    painter.setPen(Qt::black);
    painter.drawText(QPoint(LEFT, 22), qText("Online time per day, " + reportformat::date(first_) + " to " +
                                             reportformat::date(last_)));
    paintLegend(painter, metrics);

    // The hours axis and its grid.
    double maxMs = 0;
    for (const auto& [day, ms] : perDay_) maxMs = std::max(maxMs, static_cast<double>(ms));
    const double step = hourStep(std::max(maxMs / HOUR_MS, 1.0));
    const double top = std::ceil(std::max(maxMs / HOUR_MS, 1.0) / step) * step;
    for (double hours = 0; hours <= top + 1e-9; hours += step) {
      const int y = plot.bottom() - static_cast<int>(std::lround(hours / top * plot.height()));
      painter.setPen(hours == 0 ? QColor(Qt::black) : QColor(0xdd, 0xdd, 0xdd));
      painter.drawLine(plot.left(), y, plot.right(), y);
      painter.setPen(Qt::black);
      const QString label = hoursLabel(hours);
      painter.drawText(plot.left() - 6 - metrics.horizontalAdvance(label), y + metrics.ascent() / 2, label);
    }

    // A bar per day, stacked in the order of the legend.
    const double dayCount = static_cast<double>(last_ - first_ + 1);
    const double slot = plot.width() / dayCount;
    const double barWidth = std::max(1.0, slot * 0.8);
    std::map<int64_t, double> stacked;
    painter.setPen(Qt::NoPen);
    for (size_t colour = 0; colour < order_.size(); ++colour) {
      painter.setBrush(PALETTE[colour % std::size(PALETTE)]);
      for (const DayTotal& day : days_) {
        if (day.name != order_[colour] || day.ms <= 0 || day.day < first_ || day.day > last_) continue;
        const double below = stacked[day.day];
        const double height = day.ms / HOUR_MS / top * plot.height();
        const double x = plot.left() + (day.day - first_) * slot + (slot - barWidth) / 2;
        painter.drawRect(QRectF(x, plot.bottom() - below - height, barWidth, height));
        stacked[day.day] = below + height;
      }
    }

    // Dates under the days, as many as fit side by side.
    painter.setPen(Qt::black);
    const int labelWidth = metrics.horizontalAdvance("0000-00-00") + 16;
    const int64_t every = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(labelWidth / slot)));
    for (int64_t day = first_; day <= last_; day += every) {
      const QString label = qText(reportformat::date(day));
      const double centre = plot.left() + (day - first_ + 0.5) * slot;
      const int x = std::clamp(static_cast<int>(centre) - metrics.horizontalAdvance(label) / 2, 0,
                               CHART_WIDTH - metrics.horizontalAdvance(label));
      painter.drawText(x, plot.bottom() + 8 + metrics.ascent(), label);
    }
    if (perDay_.empty()) painter.drawText(plot, Qt::AlignCenter, "no online time in this range");
  }

 private:
  // Names with their colours, right-aligned in the top line.
  void paintLegend(QPainter& painter, const QFontMetrics& metrics) const {
    int x = CHART_WIDTH - RIGHT;
    for (size_t i = order_.size(); i-- > 0;) {
      const QString name = metrics.elidedText(qText(names_.text(order_[i])), Qt::ElideRight, 160);
      x -= metrics.horizontalAdvance(name);
      if (x < CHART_WIDTH / 2) break;
      painter.setPen(Qt::black);
      painter.drawText(x, 22, name);
      x -= 18;
      painter.fillRect(x, 22 - 11, 12, 12, PALETTE[i % std::size(PALETTE)]);
      x -= 16;
    }
  }

  const std::vector<DayTotal>& days_;
  const ConnectionNames& names_;
  std::map<int64_t, int64_t> perDay_;
  std::vector<uint32_t> order_;
  int64_t first_ = 0, last_ = 0;
};

}  // namespace

bool writeOnlineChart(const std::string& path, const std::vector<DayTotal>& days, const ConnectionNames& names,
                      DayRange range, std::string& error) {
  const Chart chart(days, names, range);
  // Opened as every file the programs write, so a FIFO there is refused
  // rather than waited on for good.
  fileutil::OpenedFile opened =
      fileutil::openForWriting(path, fileutil::WriteMode::Replace, fileutil::FileKinds::RegularOnly);
  if (!opened.ok()) {
    error = opened.error != 0 ? fileutil::systemMessage(opened.error) : opened.failure;
    return false;
  }
  QFile file;
  if (!file.open(opened.fd.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    error = file.errorString().toStdString();
    return false;
  }
  opened.fd.release();
  bool written;
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".svg") == 0) {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(QSize(CHART_WIDTH, CHART_HEIGHT));
    svg.setViewBox(QRect(0, 0, CHART_WIDTH, CHART_HEIGHT));
    svg.setTitle("Online time per day");
    QPainter painter;
    written = painter.begin(&svg);
    if (written) {
      chart.paint(painter);
      written = painter.end();
    }
  } else {
    QImage image(CHART_WIDTH, CHART_HEIGHT, QImage::Format_RGB32);
    {
      QPainter painter(&image);
      chart.paint(painter);
    }
    written = image.save(&file, "PNG");
  }
  file.close();
  if (!written || file.error() != QFileDevice::NoError) {
    error = file.error() != QFileDevice::NoError ? file.errorString().toStdString() : "drawing failed";
    return false;
  }
  return true;
}
