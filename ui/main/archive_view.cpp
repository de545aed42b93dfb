#include "ui/main/archive_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsSimpleTextItem>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QWheelEvent>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "model/bytes.h"
#include "model/layout.h"
#include "ui/main/chart_curves.h"
#include "ui/main/grid_look.h"
#include "ui/main/pages.h"
#include "ui/main/vir_cfg.h"
#include "ui_page_archive.h"
#include "ui_page_chart.h"
#include "ui_page_events.h"

namespace vir05 {

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Milliseconds from 1970-01-01 to 2000-01-01.
constexpr qint64 kEpoch2000MSecs = 946684800000LL;

// The table field each series shows, in chart order.
double Field(const ChartRecord& r, int series) {
    switch (series) {
        case 0:
            return r.T11;
        case 1:
            return r.T2;
        case 2:
            return r.Tk;
        case 3:
            return r.Tn;
        case 4:
            return r.T21;
        case 5:
            return r.Klap;
        case 6:
            return r.Base;
        default:
            return r.Real;
    }
}
constexpr int kKlapSeries = 5;
constexpr int kBaseSeries = 6;

// The pages' check boxes that choose the series shown.

// Restores the cursor however printing ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Grid models.

ArchiveGridModel::ArchiveGridModel(const ArchiveData& data, QObject* parent)
    : QAbstractTableModel(parent), data_(data) {}

void ArchiveGridModel::Refill(const std::function<void()>& change) {
    beginResetModel();
    change();
    endResetModel();
}

int ArchiveGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(data_.Rows().size());
}

int ArchiveGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kArchiveGridColumns;
}

QVariant ArchiveGridModel::data(const QModelIndex& index, int role) const {
    if (index.isValid() && role == Qt::TextAlignmentRole && index.column() >= 2)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return Q(data_.CellText(std::size_t(index.row()), index.column(), format_));
}

QVariant ArchiveGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::ToolTipRole && orientation == Qt::Horizontal) {
        // What a column holds and in which unit.
        static const char* const kHints[] = {"Номер записи по порядку времени",
                                             "Время записи по часам прибора",
                                             "Температура Т11 (Т3), °C",
                                             "Температура Т2, °C",
                                             "Температура Тк, °C",
                                             "Температура наружного воздуха Тн (Т1), °C",
                                             "Температура Т21, °C (в архиве не хранится)",
                                             "Значение регулируемой температуры, °C",
                                             "Задание регулятора, °C",
                                             "Положение клапана, %",
                                             "Номера ошибок контура, записанных вместе с отсчётом"};
        if (section >= 0 && section < int(std::size(kHints)))
            return QString::fromUtf8(kHints[section]);
        return {};
    }
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (section < 0 || section >= kArchiveGridColumns) return {};
    const std::string_view t = ArchiveGridTitles()[std::size_t(section)];
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
}

void EventGridModel::SetRows(std::vector<EventGridRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int EventGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int EventGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kEventGridColumns;
}

QVariant EventGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    if (std::size_t(index.row()) >= rows_.size() || index.column() >= kEventGridColumns) return {};
    return Q(rows_[std::size_t(index.row())][std::size_t(index.column())]);
}

QVariant EventGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (section < 0 || section >= kEventGridColumns) return {};
    return Q(EventGridTitles()[std::size_t(section)]);
}

QString FormatChartValue(double v) {
    if (!std::isfinite(v)) return {};
    const QString fixed = QString::number(std::fabs(v), 'f', 3);
    const qsizetype point = fixed.indexOf('.');
    QString whole = fixed.left(point);
    for (qsizetype i = whole.size() - 3; i > 0; i -= 3)
        whole.insert(i, ',');
    const bool negative = v < 0 && fixed != QStringLiteral("0.000");
    return (negative ? QStringLiteral("-") : QString()) + whole + fixed.mid(point);
}

// ---------------------------------------------------------------------------------------------
// The view.

const std::array<QString, ArchiveView::kSeriesCount>& ArchiveView::SeriesTitles() {
    static const std::array<QString, kSeriesCount> kTitles = {
        QStringLiteral("T11"), QStringLiteral("T2"),   QStringLiteral("Tк"), QStringLiteral("Tн"),
        QStringLiteral("T21"), QStringLiteral("Klap"), QStringLiteral("TЗ"), QStringLiteral("TР")};
    return kTitles;
}

ArchiveView::ArchiveView(TFormCfg& window, QObject* parent)
    : ArchiveView(window.Archive(), window.Events(), window.Chart(), parent) {}

ArchiveView::ArchiveView(PageArchive* archivePage, PageEvents* eventsPage, PageChart* chartPage,
                         QObject* parent)
    : QObject(parent), data_(std::make_unique<ArchiveData>()) {
    grid_ = new ArchiveGridModel(*data_, this);
    events_ = new EventGridModel(this);
    if (archivePage) gridView_ = archivePage->Form().StringGrid1;
    if (eventsPage) eventView_ = eventsPage->Form().StringGridE;
    if (chartPage) chartView_ = chartPage->Form().DBChart2;
    // The number is the first column; the grids have no row titles.
    // Dates and names on one line, the columns wide enough for their titles.
    auto layOut = [](QTableView* view, std::initializer_list<int> widths) {
        view->verticalHeader()->hide();
        view->setWordWrap(false);
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
        int column = 0;
        for (const int w : widths)
            view->setColumnWidth(column++, w);
    };
    if (gridView_) {
        gridView_->setModel(grid_);
        layOut(gridView_, {60, 150});
        for (int c = 2; c < kArchiveGridColumns; ++c)
            gridView_->setColumnWidth(c, c == 10 ? 110 : 78);
        gridView_->setItemDelegate(new DecimalDelegate(gridView_));
        FreezeLeadingColumns(gridView_, 2);
        // The chart follows the grid: the record chosen in the table is brought into view.
        connect(gridView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [this](const QModelIndex& current) {
                    if (current.isValid()) ShowGridRowOnChart(current.row());
                });
    }
    if (eventView_) {
        // Sorted by a click on a column title; time order at first.
        auto* sorted = new EventSortModel(this);
        sorted->setSourceModel(events_);
        eventView_->setModel(sorted);
        layOut(eventView_, {50, 150, 80, 170, 130, 130});
        eventView_->setSortingEnabled(true);
        eventView_->sortByColumn(1, Qt::AscendingOrder);
    }
    BuildChart();
    if (!chartPage) return;
    const Ui::PageChart& form = chartPage->Form();
    for (QCheckBox* box :
         {form.CheckBox1, form.CheckBox2, form.CheckBox3, form.CheckBox4, form.CheckBox5,
          form.CheckBox6, form.CheckBox7, form.CheckBox8, form.CheckBox9}) {
        connect(box, &QCheckBox::toggled, this, [this, box] { CheckBox1Click(box); });
        // The legend and the readout call a series what its check box calls it.
        for (int s = 0; s < kSeriesCount; ++s) {
            if (series_[std::size_t(s)]->name() != box->toolTip()) continue;
            names_[std::size_t(s)] = box->text();
            for (QLegendMarker* m : chart_->legend()->markers(series_[std::size_t(s)]))
                m->setLabel(box->text());
        }
    }
    connect(chartPage, &PageChart::printRequested, this, [this] { Button2Click(); });
}

// The event filter on the chart's viewport goes with this object; the window may outlive it or
// go first.
ArchiveView::~ArchiveView() = default;

void ArchiveView::BuildChart() {
    if (chartView_) {
        chart_ = chartView_->chart();
    } else {
        // Without the page the chart still exists, in a scene of its own, for printing.
        auto* scene = new QGraphicsScene(this);
        chart_ = new QChart();
        scene->addItem(chart_);  // the scene owns the chart
        chart_->resize(800, 500);
    }
    chart_->removeAllSeries();
    for (QAbstractAxis* axis : chart_->axes())
        chart_->removeAxis(axis);

    timeAxis_ = new QDateTimeAxis(chart_);
    timeAxis_->setFormat(QStringLiteral("dd.MM hh:mm"));
    rightAxis_ = new QValueAxis(chart_);
    leftAxis_ = new QValueAxis(chart_);
    rightAxis_->setTitleText(QStringLiteral("Температура, °C"));
    leftAxis_->setTitleText(QStringLiteral("Клапан, %"));
    leftAxis_->setGridLineVisible(false);  // one set of grid lines: the temperatures'
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    // The series keep their time axis; its labels and grid lines are drawn by a second axis
    // at round times (every 10 minutes, hour, 6 hours, day, ...), which the time axis cannot.
    timeAxis_->setVisible(false);
    timeLabels_ = new QCategoryAxis(chart_);
    timeLabels_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    chart_->addAxis(timeLabels_, Qt::AlignBottom);
    chart_->addAxis(leftAxis_, Qt::AlignLeft);
    chart_->addAxis(rightAxis_, Qt::AlignRight);
    for (int i = 0; i < kSeriesCount; ++i) {
        auto* s = new QLineSeries(chart_);
        s->setName(SeriesTitles()[std::size_t(i)]);
        chart_->addSeries(s);
        s->attachAxis(timeAxis_);
        s->attachAxis(i == kKlapSeries ? leftAxis_ : rightAxis_);
        series_[std::size_t(i)] = s;
        names_[std::size_t(i)] = SeriesTitles()[std::size_t(i)];
    }
    // A colour of its own for every series (the theme repeats its colours after five), and the
    // setpoint stands out: its line is twice as wide as the others.
    static const QColor kColours[kSeriesCount] = {
        QColor(0xD6, 0x27, 0x28), QColor(0x1F, 0x77, 0xB4), QColor(0xFF, 0x7F, 0x0E),
        QColor(0x94, 0x67, 0xBD), QColor(0x8C, 0x56, 0x4B), QColor(0x7F, 0x7F, 0x7F),
        QColor(0x2C, 0xA0, 0x2C), QColor(0x17, 0xBE, 0xCF)};
    const qreal width = series_[0]->pen().widthF();
    for (int i = 0; i < kSeriesCount; ++i) {
        QPen pen = series_[std::size_t(i)]->pen();
        pen.setColor(kColours[i]);
        pen.setWidthF(i == kBaseSeries ? 2 * width : width);
        series_[std::size_t(i)]->setPen(pen);
    }

    // The series hold the points and give the legend its colours; the curves are drawn by
    // ChartCurves, with gaps and no more points than the plot has pixel columns.
    std::array<QValueAxis*, kSeriesCount> axisOf{};
    for (int i = 0; i < kSeriesCount; ++i) {
        series_[std::size_t(i)]->setOpacity(0.0);
        axisOf[std::size_t(i)] = i == kKlapSeries ? leftAxis_ : rightAxis_;
    }
    curves_ = new ChartCurves(chart_, timeAxis_, series_, axisOf);

    cursorLine_ = new QGraphicsLineItem(chart_);
    cursorLine_->setPen(QPen(QColor(0x40, 0x40, 0x40), 1, Qt::DashLine));
    cursorLine_->setZValue(8);
    cursorLine_->hide();
    readoutBox_ = new QGraphicsRectItem(chart_);
    readoutBox_->setBrush(QColor(255, 255, 255, 235));
    readoutBox_->setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    readoutBox_->setZValue(9);
    readoutBox_->hide();
    readout_ = new QGraphicsSimpleTextItem(chart_);
    readout_->setZValue(10);
    connect(timeAxis_, &QDateTimeAxis::rangeChanged, this, [this] { PlaceTimeLabels(); });
    connect(chart_, &QChart::plotAreaChanged, this, [this] { PlaceTimeLabels(); });
    FitAxes();

    if (chartView_) {
        chartView_->setRenderHint(QPainter::Antialiasing);
        chartView_->setMouseTracking(true);
        chartView_->viewport()->setMouseTracking(true);
        chartView_->viewport()->installEventFilter(this);
    }
}

void ArchiveView::Fill(const MemoryAreas& areas, int selectedCircuit,
                       const ImageSnapshot& snapshot) {
    SetPrintIdentity(QString::number(I32(areas.DeviceImage(), addr::DevNumber)), selectedCircuit);
    grid_->Refill(
        [&] { data_->Fill(areas.ArchiveImage(), snapshot.NumSystems(), selectedCircuit); });
    if (gridView_) HideEmptyColumns(gridView_, 2);
    ShowTable();
}

void ArchiveView::FillEvents(const std::uint8_t* archive) {
    events_->SetRows(EventGridRows(archive, EventStampFormat{}));
    if (eventView_) HideEmptyColumns(eventView_, 6);
}

void ArchiveView::SetCycleMode(bool on) {
    data_->SetCycleMode(on);
}

void ArchiveView::ClearChartTables() {
    data_->ClearTables();
    ShowTable();
}

bool ArchiveView::AddCurrent(const MemoryAreas& areas) {
    if (!data_->CycleMode()) return false;
    const bool added = data_->AppendCurrent(areas.DeviceImage());
    if (added) ShowTable();
    return added;
}

qint64 ArchiveView::LocalMSecs(const ChartStamp& s) {
    const qint64 utc = kEpoch2000MSecs + SecondsSince2000(s) * 1000;
    // The offset of local time from UTC, asked of the time zone once a day: when the day starts
    // and ends with the same offset it holds all day; a day with a clock change is asked hour
    // by hour. Records come in time order, so few conversions serve a whole archive.
    auto offsetAt = [](const ChartStamp& at) {
        const QDateTime local(QDate(at.year, at.month, at.day), QTime(at.hour, 0));
        const ChartStamp hourStart{at.year, at.month, at.day, at.hour, 0, 0};
        return local.toMSecsSinceEpoch() - (kEpoch2000MSecs + SecondsSince2000(hourStart) * 1000);
    };
    const qint64 dayKey = SecondsSince2000(s) / 86400;
    if (dayKey != offsetDayKey_) {
        offsetDayKey_ = dayKey;
        const qint64 first = offsetAt(ChartStamp{s.year, s.month, s.day, 0, 0, 0});
        const qint64 last = offsetAt(ChartStamp{s.year, s.month, s.day, 23, 0, 0});
        dayOffsetSteady_ = first == last;
        offsetMSecs_ = first;
        offsetHourKey_ = -1;
    }
    if (dayOffsetSteady_) return utc + offsetMSecs_;
    const qint64 hourKey = SecondsSince2000(s) / 3600;
    if (hourKey != offsetHourKey_) {
        hourOffsetMSecs_ = offsetAt(s);
        offsetHourKey_ = hourKey;
    }
    return utc + hourOffsetMSecs_;
}

void ArchiveView::ShowTable() {
    const ChartTable& table = data_->Shown();
    times_.clear();
    times_.reserve(table.size());
    for (const ChartRecord& r : table)
        times_.push_back(LocalMSecs(r.DateTime));

    QList<QPointF> points;
    points.reserve(qsizetype(table.size()));
    std::array<std::vector<double>, kSeriesCount> values;
    for (int i = 0; i < kSeriesCount; ++i) {
        points.clear();
        std::vector<double>& column = values[std::size_t(i)];
        column.resize(table.size());
        for (std::size_t k = 0; k < table.size(); ++k) {
            const double v = Field(table[k], i);
            column[k] = v;
            if (HasValue(v)) points.append(QPointF(double(times_[k]), v));
        }
        series_[std::size_t(i)]->replace(points);
    }
    curves_->SetData(times_, std::move(values));
    FitAxes();
    readout_->setText(QString());
    readoutBox_->hide();
    cursorLine_->hide();
}

void ArchiveView::FitAxes() {
    qint64 tMin = 0, tMax = 0;
    bool anyTime = false;
    for (qint64 t : times_) {
        if (!anyTime || t < tMin) tMin = t;
        if (!anyTime || t > tMax) tMax = t;
        anyTime = true;
    }
    if (!anyTime) {
        const QDateTime today(QDate::currentDate(), QTime(0, 0));
        tMin = today.toMSecsSinceEpoch();
        tMax = today.addDays(1).toMSecsSinceEpoch();
    } else if (tMin == tMax) {
        tMin -= 1800 * 1000;
        tMax += 1800 * 1000;
    }
    fullMin_ = tMin;
    fullMax_ = tMax;

    auto range = [this](bool valve, double& lo, double& hi) {
        bool any = false;
        for (int i = 0; i < kSeriesCount; ++i) {
            if ((i == kKlapSeries) != valve) continue;
            for (const QPointF& p : series_[std::size_t(i)]->points()) {
                if (!any || p.y() < lo) lo = p.y();
                if (!any || p.y() > hi) hi = p.y();
                any = true;
            }
        }
        if (!any) {
            lo = 0;
            hi = 100;
            return;
        }
        const double margin = hi > lo ? (hi - lo) * 0.05 : 1.0;
        lo -= margin;
        hi += margin;
    };
    range(false, rightMin_, rightMax_);
    range(true, leftMin_, leftMax_);
    // Round numbers at the ticks, as on a scale.
    for (auto [axis, lo, hi] : {std::tuple{rightAxis_, &rightMin_, &rightMax_},
                                std::tuple{leftAxis_, &leftMin_, &leftMax_}}) {
        axis->setRange(*lo, *hi);
        axis->applyNiceNumbers();
        *lo = axis->min();
        *hi = axis->max();
    }
    ResetZoom();
}

void ArchiveView::ResetZoom() {
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(fullMin_),
                        QDateTime::fromMSecsSinceEpoch(fullMax_));
    rightAxis_->setRange(rightMin_, rightMax_);
    leftAxis_->setRange(leftMin_, leftMax_);
}

void ArchiveView::CheckBox1Click(QCheckBox* sender) {
    if (!sender) return;
    const QString hint = sender->toolTip();
    for (QAbstractSeries* s : chart_->series()) {
        if (s->name() != hint) continue;
        s->setVisible(sender->isChecked());
        ShowAxesInUse();
        return;
    }
}

void ArchiveView::ShowAxesInUse() {
    bool right = false;
    for (int i = 0; i < kSeriesCount; ++i)
        if (i != kKlapSeries && series_[std::size_t(i)]->isVisible()) right = true;
    rightAxis_->setVisible(right);
    leftAxis_->setVisible(series_[std::size_t(kKlapSeries)]->isVisible());
}

void ArchiveView::PlaceTimeLabels() {
    const qint64 lo = timeAxis_->min().toMSecsSinceEpoch();
    const qint64 hi = timeAxis_->max().toMSecsSinceEpoch();
    for (const QString& label : timeLabels_->categoriesLabels())
        timeLabels_->remove(label);
    timeLabels_->setStartValue(double(lo));
    timeLabels_->setRange(double(lo), double(hi));
    if (hi <= lo) return;
    // As many labels as fit side by side, at the first round step that gives no more.
    const double width = std::max(120.0, chart_->plotArea().width());
    const qint64 most = std::max<qint64>(2, qint64(width / 90));
    constexpr qint64 kMin = 60000, kHour = 60 * kMin, kDay = 24 * kHour;
    static const qint64 kSteps[] = {kMin,       2 * kMin,  5 * kMin,  10 * kMin, 15 * kMin,
                                    30 * kMin,  kHour,     2 * kHour, 3 * kHour, 6 * kHour,
                                    12 * kHour, kDay,      2 * kDay,  7 * kDay,  14 * kDay,
                                    28 * kDay,  56 * kDay, 112 * kDay};
    qint64 step = kSteps[std::size(kSteps) - 1];
    for (const qint64 s : kSteps)
        if ((hi - lo) / s <= most) {
            step = s;
            break;
        }
    // Round in local time: whole minutes and hours of the clock, days from midnight.
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(lo);
    QDateTime tick;
    if (step < kDay) {
        const qint64 offset = qint64(start.offsetFromUtc()) * 1000;
        tick = QDateTime::fromMSecsSinceEpoch(((lo + offset) / step + 1) * step - offset);
    } else {
        tick = QDateTime(start.date().addDays(1), QTime(0, 0));
    }
    const QString format = step < kDay ? QStringLiteral("dd.MM hh:mm") : QStringLiteral("dd.MM");
    QStringList used;
    for (int n = 0; n < 200 && tick.toMSecsSinceEpoch() <= hi; ++n) {
        const QString label = tick.toString(format);
        if (!used.contains(label)) {
            used.append(label);
            timeLabels_->append(label, double(tick.toMSecsSinceEpoch()));
        }
        tick = step < kDay ? tick.addMSecs(step) : tick.addDays(step / kDay);
    }
}

// ---------------------------------------------------------------------------------------------
// Zoom, pan and the value under the cursor.

bool ArchiveView::eventFilter(QObject* watched, QEvent* event) {
    if (!chartView_ || watched != chartView_->viewport()) return false;
    auto scenePos = [this](QPointF viewPos) { return chartView_->mapToScene(viewPos.toPoint()); };
    switch (event->type()) {
        case QEvent::Wheel: {
            auto* e = static_cast<QWheelEvent*>(event);
            const int delta = e->angleDelta().y();
            if (delta == 0) return false;
            ZoomAt(scenePos(e->position()), delta > 0 ? 0.8 : 1.25);
            return true;
        }
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() != Qt::LeftButton) return false;
            dragging_ = true;
            dragFrom_ = scenePos(e->position());
            return true;
        }
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            const QPointF p = scenePos(e->position());
            if (dragging_ && (e->buttons() & Qt::LeftButton)) {
                Pan(dragFrom_, p);
                dragFrom_ = p;
            }
            UpdateReadout(p);
            return false;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            dragging_ = false;
            return true;
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            dragging_ = false;
            ResetZoom();
            return true;
        default:
            return false;
    }
}

void ArchiveView::ZoomAt(QPointF scenePos, double factor) {
    const QRectF plot = chart_->plotArea();
    if (plot.width() <= 0) return;
    const double lo = double(timeAxis_->min().toMSecsSinceEpoch());
    const double hi = double(timeAxis_->max().toMSecsSinceEpoch());
    const double share = std::clamp((scenePos.x() - plot.left()) / plot.width(), 0.0, 1.0);
    const double at = lo + (hi - lo) * share;
    double newLo = at - (at - lo) * factor;
    double newHi = at + (hi - at) * factor;
    // Not closer than a minute, not wider than the whole data plus as much again.
    const double full = double(fullMax_ - fullMin_);
    if (newHi - newLo < 60000.0 || newHi - newLo > 2 * full + 60000.0) return;
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(qint64(newLo)),
                        QDateTime::fromMSecsSinceEpoch(qint64(newHi)));
}

void ArchiveView::Pan(QPointF from, QPointF to) {
    const QRectF plot = chart_->plotArea();
    if (plot.width() <= 0 || plot.height() <= 0) return;
    const double lo = double(timeAxis_->min().toMSecsSinceEpoch());
    const double hi = double(timeAxis_->max().toMSecsSinceEpoch());
    const double dt = -(to.x() - from.x()) / plot.width() * (hi - lo);
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(qint64(lo + dt)),
                        QDateTime::fromMSecsSinceEpoch(qint64(hi + dt)));
    // Up on the screen is up in value.
    const double share = (to.y() - from.y()) / plot.height();
    for (QValueAxis* axis : {rightAxis_, leftAxis_}) {
        const double d = share * (axis->max() - axis->min());
        axis->setRange(axis->min() + d, axis->max() + d);
    }
}

QString ArchiveView::ReadoutAt(QPointF scenePos) const {
    const QRectF plot = chart_->plotArea();
    if (times_.empty() || !plot.contains(scenePos) || plot.width() <= 0) return {};
    const double lo = double(timeAxis_->min().toMSecsSinceEpoch());
    const double hi = double(timeAxis_->max().toMSecsSinceEpoch());
    const double at = lo + (hi - lo) * (scenePos.x() - plot.left()) / plot.width();
    return ReadoutOf(NearestRecord(at));
}

std::size_t ArchiveView::NearestRecord(double msecs) const {
    std::size_t best = 0;
    for (std::size_t k = 1; k < times_.size(); ++k)
        if (std::fabs(double(times_[k]) - msecs) < std::fabs(double(times_[best]) - msecs))
            best = k;
    return best;
}

QString ArchiveView::DisplayName(int series) const {
    return names_[std::size_t(series)];
}

bool ArchiveView::ShowGridRowOnChart(int row) {
    const auto& rows = data_->Rows();
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size() || times_.empty()) return false;
    const ArchiveTime& t = rows[static_cast<std::size_t>(row)].time;
    const ChartStamp stamp{
        static_cast<std::int16_t>(t.Year()),  static_cast<std::int8_t>(t.Month()),
        static_cast<std::int8_t>(t.Day()),    static_cast<std::int8_t>(t.Hour()),
        static_cast<std::int8_t>(t.Minute()), static_cast<std::int8_t>(t.Second())};
    const qint64 at = LocalMSecs(stamp);
    const qint64 lo = timeAxis_->min().toMSecsSinceEpoch();
    const qint64 hi = timeAxis_->max().toMSecsSinceEpoch();
    if (at < lo || at > hi) {  // keep the zoom, move the window of time onto the record
        const qint64 half = (hi - lo) / 2;
        timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(at - half),
                            QDateTime::fromMSecsSinceEpoch(at + half));
    }
    ShowReadout(NearestRecord(double(at)));
    return true;
}

QString ArchiveView::ReadoutOf(std::size_t best) const {
    const ChartRecord& r = data_->Shown()[best];
    QString text = QDateTime::fromMSecsSinceEpoch(times_[best])
                       .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    // As finely as the values were stored: the archive keeps tenths of a degree and whole
    // percent, the current values of cyclic reading hundredths.
    const int decimals = data_->CycleMode() ? 2 : 1;
    for (int i = 0; i < kSeriesCount; ++i) {
        const double v = Field(r, i);
        if (!series_[std::size_t(i)]->isVisible() || !HasValue(v)) continue;
        const QString value = i == kKlapSeries
                                  ? QString::number(qRound(v)) + QStringLiteral(" %")
                                  : QString::number(v, 'f', decimals) + QStringLiteral(" °C");
        text += QStringLiteral("\n%1: %2").arg(names_[std::size_t(i)], value);
    }
    return text;
}

void ArchiveView::ShowReadout(std::optional<std::size_t> record) {
    const QRectF plot = chart_->plotArea();
    if (!record || times_.empty()) {
        readout_->setText(QString());
        readoutBox_->hide();
        cursorLine_->hide();
        return;
    }
    readout_->setText(ReadoutOf(*record));
    readout_->setPos(plot.topLeft() + QPointF(10, 8));
    readoutBox_->setRect(
        readout_->mapRectToParent(readout_->boundingRect()).adjusted(-5, -4, 5, 4));
    readoutBox_->show();
    const double lo = double(timeAxis_->min().toMSecsSinceEpoch());
    const double hi = double(timeAxis_->max().toMSecsSinceEpoch());
    const double x = plot.left() + (double(times_[*record]) - lo) / (hi - lo) * plot.width();
    cursorLine_->setLine(x, plot.top(), x, plot.bottom());
    cursorLine_->setVisible(x >= plot.left() && x <= plot.right());
}

QString ArchiveView::ReadoutText() const {
    return readout_->text();
}

void ArchiveView::UpdateReadout(QPointF scenePos) {
    const QRectF plot = chart_->plotArea();
    if (times_.empty() || !plot.contains(scenePos) || plot.width() <= 0) {
        ShowReadout(std::nullopt);
        return;
    }
    const double lo = double(timeAxis_->min().toMSecsSinceEpoch());
    const double hi = double(timeAxis_->max().toMSecsSinceEpoch());
    ShowReadout(NearestRecord(lo + (hi - lo) * (scenePos.x() - plot.left()) / plot.width()));
}

// ---------------------------------------------------------------------------------------------
// Printing.

void ArchiveView::SetErrorReport(std::function<void(const QString&)> report) {
    report_ = std::move(report);
}

void ArchiveView::RenderChart(QPainter& painter, const QRect& target) {
    if (target.isEmpty()) return;
    // Lay the chart out for the target as the screen would show a chart of that physical size:
    // text and lines keep their size instead of being stretched with the picture.
    const double deviceDpi = painter.device() ? painter.device()->logicalDpiX() : 96.0;
    const double screenDpi = chartView_ ? chartView_->logicalDpiX() : 96.0;
    const double scale = deviceDpi > 0 && screenDpi > 0 ? deviceDpi / screenDpi : 1.0;
    const QSizeF layoutSize(target.width() / scale, target.height() / scale);

    const QRectF oldGeometry = chart_->geometry();
    const QString readout = readout_->text();
    readout_->setText(QString());
    chart_->setGeometry(QRectF(oldGeometry.topLeft(), layoutSize));
    if (chart_->layout()) chart_->layout()->activate();
    chart_->scene()->render(&painter, QRectF(target), QRectF(chart_->scenePos(), layoutSize),
                            Qt::IgnoreAspectRatio);
    chart_->setGeometry(oldGeometry);
    if (chart_->layout()) chart_->layout()->activate();
    readout_->setText(readout);
}

bool ArchiveView::PrintChart(QPrinter& printer) {
    const WaitCursor cursor;
    QPainter painter;
    if (!painter.begin(&printer)) {
        printer.abort();
        const QString message =
            QStringLiteral("Ошибка печати: ") +
            (printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName());
        if (report_) {
            report_(message);
        } else {
            QMessageBox::warning(chartView_ ? chartView_->window() : nullptr,
                                 QStringLiteral("Печать"), message);
        }
        return false;
    }
    const int w = printer.width();
    const int h = printer.height();
    // From (W/20, H/10) to (W - W/20, H - H/10), integer divisions.
    const QRect target(w / 20, h / 10, (w - w / 20) - w / 20, (h - h / 10) - h / 10);
    RenderChart(painter, target);
    // The title in the top margin: whose chart, which period, when it was printed.
    QFont font = painter.font();
    font.setPointSizeF(11);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(w / 20, 0, w - 2 * (w / 20), h / 10 - h / 60),
                     Qt::AlignLeft | Qt::AlignBottom | Qt::TextWordWrap, PrintTitle());
    return painter.end();
}

void ArchiveView::SetPrintIdentity(QString serial, int circuit) {
    printSerial_ = std::move(serial);
    printCircuit_ = circuit;
}

QString ArchiveView::PrintTitle() const {
    const QString format = QStringLiteral("dd.MM.yyyy hh:mm");
    const QString what =
        data_->CycleMode() ? QStringLiteral("текущие значения") : QStringLiteral("архив");
    return QStringLiteral("ВИР-05, S/N %1, контур %2: %3 с %4 по %5. Напечатано %6")
        .arg(printSerial_.isEmpty() ? QStringLiteral("—") : printSerial_)
        .arg(printCircuit_ + 1)
        .arg(what, timeAxis_->min().toString(format), timeAxis_->max().toString(format),
             QDateTime::currentDateTime().toString(format));
}

bool ArchiveView::Button2Click() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, chartView_ ? chartView_->window() : nullptr);
    if (dialog.exec() != QDialog::Accepted) return false;
    return PrintChart(printer);
}

bool ArchiveView::PrintToPdf(const QString& path) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape);
    return PrintChart(printer);
}

}  // namespace vir05
