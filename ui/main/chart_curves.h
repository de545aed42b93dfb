// The curves of the archive chart, drawn as an instrument draws them.
//
// The chart's line series keep every point (for the legend, the readout and whoever asks), but
// the lines on the screen come from this layer: no more points than the plot has pixel columns
// (per column the first, lowest, highest and last value, so no peak is lost), and a gap in the
// records, or a record without a value, is a gap in the curve instead of a straight line across
// the missing time.
#pragma once

#include <QGraphicsObject>
#include <QPen>
#include <QPolygonF>
#include <QtGlobal>
#include <array>
#include <vector>

class QChart;
class QLineSeries;
class QValueAxis;
class QDateTimeAxis;

namespace vir05 {

// The pieces of one curve in plot coordinates. `times` ascending (milliseconds), `values` NaN
// where there is no value. x maps [x0, x1] onto [left, left + width], y maps [y0, y1] onto
// [bottom, bottom - height]. A step in time above `gapMs` breaks the curve.
struct CurveFrame {
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    double left = 0, bottom = 0, width = 1, height = 1;
};
std::vector<QPolygonF> CurvePieces(const std::vector<qint64>& times,
                                   const std::vector<double>& values, const CurveFrame& frame,
                                   qint64 gapMs);
// The step in time above which the records have a gap: three times the usual step (the
// median of the steps), at least a minute.
qint64 GapThreshold(const std::vector<qint64>& times);

class ChartCurves : public QGraphicsObject {
    Q_OBJECT

  public:
    static constexpr int kCurves = 8;

    ChartCurves(QChart* chart, QDateTimeAxis* timeAxis,
                const std::array<QLineSeries*, kCurves>& series,
                const std::array<QValueAxis*, kCurves>& valueAxes);

    // New data: one time per record, one value per record and curve (NaN: none).
    void SetData(std::vector<qint64> times, std::array<std::vector<double>, kCurves> values);
    qint64 Gap() const { return gapMs_; }
    // The pieces curve `i` is drawn as now.
    std::vector<QPolygonF> Pieces(int i) const;

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

  private:
    CurveFrame FrameOf(int i) const;

    QChart* chart_;
    QDateTimeAxis* timeAxis_;
    std::array<QLineSeries*, kCurves> series_;
    std::array<QValueAxis*, kCurves> axes_;
    std::vector<qint64> times_;
    std::array<std::vector<double>, kCurves> values_;
    qint64 gapMs_ = 0;
};

}  // namespace vir05
