#include "ui/main/chart_curves.h"

#include <QDateTime>
#include <QPainter>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

namespace vir05 {

namespace {

// The values of one pixel column of a curve, drawn as one upright stroke from the value met
// first of the lowest and highest to the other (an oscilloscope's thinning: every peak stays,
// and the line never runs back over itself).
struct Column {
    long index = 0;
    double x = 0, minY = 0, maxY = 0;
    bool minFirst = true;  // in screen y: the larger y (lower value) came first
    int count = 0;

    void Start(long column, double px, double y) {
        index = column;
        x = px;
        minY = maxY = y;
        count = 1;
    }
    void Add(double y) {
        if (y < minY) {
            minY = y;
            minFirst = false;
        }
        if (y > maxY) {
            maxY = y;
            minFirst = true;
        }
        ++count;
    }
    void FlushInto(QPolygonF& piece) const {
        if (count == 0) return;
        const double at = count == 1 ? x : double(index) + 0.5;
        if (maxY - minY < 0.25) {
            piece.append(QPointF(at, (minY + maxY) / 2));
            return;
        }
        // minFirst: the last extreme met was the highest screen y, so it ends the stroke.
        piece.append(QPointF(at, minFirst ? minY : maxY));
        piece.append(QPointF(at, minFirst ? maxY : minY));
    }
};

}  // namespace

std::vector<QPolygonF> CurvePieces(const std::vector<qint64>& times,
                                   const std::vector<double>& values, const CurveFrame& f,
                                   qint64 gapMs) {
    std::vector<QPolygonF> pieces;
    const std::size_t n = std::min(times.size(), values.size());
    if (n == 0 || !(f.x1 > f.x0) || !(f.y1 != f.y0) || f.width <= 0) return pieces;
    // One record either side of the visible time, so the lines run to the plot's edges.
    auto from = std::lower_bound(times.begin(), times.begin() + long(n), qint64(std::floor(f.x0)));
    auto to = std::upper_bound(times.begin(), times.begin() + long(n), qint64(std::ceil(f.x1)));
    std::size_t first = std::size_t(from - times.begin());
    std::size_t last = std::size_t(to - times.begin());
    if (first > 0) --first;
    if (last < n) ++last;

    const double sx = f.width / (f.x1 - f.x0);
    const double sy = f.height / (f.y1 - f.y0);
    QPolygonF piece;
    Column column;
    auto endPiece = [&] {
        column.FlushInto(piece);
        column.count = 0;
        if (!piece.isEmpty()) pieces.push_back(std::move(piece));
        piece = QPolygonF();
    };
    for (std::size_t k = first; k < last; ++k) {
        const double v = values[k];
        if (std::isnan(v)) {
            endPiece();
            continue;
        }
        if (k > first && times[k] - times[k - 1] > gapMs) endPiece();
        const double x = f.left + (double(times[k]) - f.x0) * sx;
        const double y = f.bottom - (v - f.y0) * sy;
        const long c = long(std::floor(x));
        if (column.count > 0 && c == column.index) {
            column.Add(y);
            continue;
        }
        column.FlushInto(piece);
        column.Start(c, x, y);
    }
    endPiece();
    return pieces;
}

qint64 GapThreshold(const std::vector<qint64>& times) {
    std::vector<qint64> steps;
    steps.reserve(times.size());
    for (std::size_t k = 1; k < times.size(); ++k)
        if (times[k] > times[k - 1]) steps.push_back(times[k] - times[k - 1]);
    constexpr qint64 kMinute = 60000;
    if (steps.empty()) return kMinute;
    auto mid = steps.begin() + long(steps.size() / 2);
    std::nth_element(steps.begin(), mid, steps.end());
    return std::max(kMinute, 3 * *mid);
}

ChartCurves::ChartCurves(QChart* chart, QDateTimeAxis* timeAxis,
                         const std::array<QLineSeries*, kCurves>& series,
                         const std::array<QValueAxis*, kCurves>& valueAxes)
    : QGraphicsObject(chart),
      chart_(chart),
      timeAxis_(timeAxis),
      series_(series),
      axes_(valueAxes) {
    setZValue(5);  // above the grid and the (transparent) series, below the readout
    setFlag(QGraphicsItem::ItemClipsToShape, false);
    auto repaint = [this] { update(); };
    connect(timeAxis_, &QDateTimeAxis::rangeChanged, this, repaint);
    for (std::size_t i = 0; i < axes_.size(); ++i)
        if (std::find(axes_.begin(), axes_.begin() + long(i), axes_[i]) == axes_.begin() + long(i))
            connect(axes_[i], &QValueAxis::rangeChanged, this, repaint);
    for (QLineSeries* s : series_)
        connect(s, &QLineSeries::visibleChanged, this, repaint);
    connect(chart_, &QChart::plotAreaChanged, this, [this] {
        prepareGeometryChange();
        update();
    });
}

void ChartCurves::SetData(std::vector<qint64> times,
                          std::array<std::vector<double>, kCurves> values) {
    times_ = std::move(times);
    values_ = std::move(values);
    gapMs_ = GapThreshold(times_);
    update();
}

CurveFrame ChartCurves::FrameOf(int i) const {
    const QRectF plot = chart_->plotArea();
    CurveFrame f;
    f.x0 = double(timeAxis_->min().toMSecsSinceEpoch());
    f.x1 = double(timeAxis_->max().toMSecsSinceEpoch());
    f.y0 = axes_[std::size_t(i)]->min();
    f.y1 = axes_[std::size_t(i)]->max();
    f.left = plot.left();
    f.bottom = plot.bottom();
    f.width = plot.width();
    f.height = plot.height();
    return f;
}

std::vector<QPolygonF> ChartCurves::Pieces(int i) const {
    return CurvePieces(times_, values_[std::size_t(i)], FrameOf(i), gapMs_);
}

QRectF ChartCurves::boundingRect() const {
    return chart_->plotArea();
}

void ChartCurves::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const QRectF plot = chart_->plotArea();
    if (plot.isEmpty()) return;
    painter->save();
    painter->setClipRect(plot);
    painter->setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < kCurves; ++i) {
        const QLineSeries* s = series_[std::size_t(i)];
        if (!s->isVisible()) continue;
        // Half the series' width: one pixel for the values, two for the setpoint, so that
        // dense curves stay fine lines (and are drawn by the fast path for thin lines).
        QPen pen = s->pen();
        pen.setWidthF(pen.widthF() / 2);
        pen.setCapStyle(Qt::FlatCap);
        painter->setPen(pen);
        // A wide line goes as separate segments: stroked as one polyline that turns at every
        // pixel column it would be filled as one huge self-overlapping outline.
        const bool wide = pen.widthF() > 1.0;
        QList<QLineF> lines;
        for (const QPolygonF& piece : Pieces(i)) {
            if (piece.size() == 1) {
                painter->drawPoint(piece.front());  // a lone record between gaps
            } else if (!wide) {
                painter->drawPolyline(piece);
            } else {
                for (qsizetype k = 1; k < piece.size(); ++k)
                    lines.append(QLineF(piece[k - 1], piece[k]));
            }
        }
        if (!lines.isEmpty()) painter->drawLines(lines);
    }
    painter->restore();
}

}  // namespace vir05
