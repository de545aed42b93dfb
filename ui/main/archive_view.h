// The archive page, the event-log page and the archive chart of the main window.
//
// ArchiveView takes over widgets of three of the window's pages: the grid StringGrid1 (page
// "Архив"), the grid StringGridE (page "Архив событий"), the chart DBChart2 with the check boxes
// CheckBox1..CheckBox9 and the print request of Button2 (page "График"). The window session
// calls it from its presentation pass:
//
//     ArchiveView archive(window);
//     archive.SetCycleMode(cycleMode);             // when cyclic reading starts or stops
//     archive.AddCurrent(areas);                   // after each completed read in cycle mode
//     archive.Fill(areas, areas.SelectedCircuit, snapshot);  // every pass
//     archive.FillEvents(areas.ArchiveImage());              // every pass
//
// Fill rebuilds the archive grid (one model reset) and, outside cycle mode, the chart of the
// selected circuit from ArchiveImage; in cycle mode the chart shows the current values that
// AddCurrent collected, the newest 2000 per circuit, and Fill only switches it to the selected
// circuit. Fill never appends current values itself, so a pass that follows no read (a circuit
// switch, a presentation after the collect) adds no point twice.
//
// The chart: eight line series against a date and time axis ("dd.MM hh:mm"); "Klap" on the left
// axis, the temperatures on the right one, "TЗ" drawn twice as wide. The mouse wheel zooms the
// time axis around the cursor, dragging pans, a double click shows the whole data again, and
// the values nearest to the cursor's time are shown in the chart's top left corner.
#pragma once

#include <QAbstractTableModel>
#include <QObject>
#include <QPointF>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/archive_view.h"
#include "core/snapshot.h"
#include "model/events.h"
#include "model/memory.h"

class QCategoryAxis;
class QCheckBox;
class QChart;
class QGraphicsLineItem;
class QGraphicsRectItem;
class QChartView;
class QDateTimeAxis;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QPainter;
class QPrinter;
class QPushButton;
class QRect;
class QTableView;
class QValueAxis;
class QWidget;

namespace vir05 {

class ChartCurves;
class PageArchive;
class PageChart;
class PageEvents;
class TFormCfg;

// The archive grid: the rows of ArchiveData, the column titles as horizontal header.
class ArchiveGridModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit ArchiveGridModel(const ArchiveData& data, QObject* parent = nullptr);

    // Runs `change` (which refills the data) inside one model reset.
    void Refill(const std::function<void()>& change);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const ArchiveData& data_;
    EventStampFormat format_;
};

// The event grid: the rows of the event log, the column titles as horizontal header.
class EventGridModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    using QAbstractTableModel::QAbstractTableModel;

    // Replaces every row: nothing of an earlier fill stays behind.
    void SetRows(std::vector<EventGridRow> rows);
    const std::vector<EventGridRow>& Rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    std::vector<EventGridRow> rows_;
};

// A chart value as "#,##0.000": groups of thousands separated by ",", three decimals after ".".
QString FormatChartValue(double v);

class ArchiveView : public QObject {
    Q_OBJECT

  public:
    // Series titles in chart order; "TЗ" and "TР" begin with a Latin T.
    static constexpr int kSeriesCount = 8;
    static const std::array<QString, kSeriesCount>& SeriesTitles();

    // The pages of `window`.
    explicit ArchiveView(TFormCfg& window, QObject* parent = nullptr);
    // A page that is missing (null) is left out; the chart then lives in a scene of its own.
    ArchiveView(PageArchive* archivePage, PageEvents* eventsPage, PageChart* chartPage,
                QObject* parent = nullptr);
    ~ArchiveView() override;

    void Fill(const MemoryAreas& areas, int selectedCircuit, const ImageSnapshot& snapshot);
    void FillEvents(const std::uint8_t* archive);
    void SetCycleMode(bool on);
    // Cycle mode: appends the current values of DeviceImage to both circuits' tables and shows
    // the selected one again. False (nothing appended) when the controller clock is no real date.
    bool AddCurrent(const MemoryAreas& areas);
    // Empties the chart tables and the chart (the start of cyclic reading).
    void ClearChartTables();

    // Shows or hides the first series whose title equals the check box's hint (its tool tip).
    void CheckBox1Click(QCheckBox* sender);
    // Asks for a printer and prints the chart; false when the user cancelled or printing failed.
    bool Button2Click();
    // Prints the chart on one page of `printer` into the rectangle (W/20, H/10)-(W-W/20, H-H/10)
    // of its printable area W x H. A failure goes to the error report and gives false.
    bool PrintChart(QPrinter& printer);
    // The same on one landscape A4 page of a PDF file, without a dialog.
    bool PrintToPdf(const QString& path);
    // Draws the chart into `target` of `painter`, laid out for the target's size.
    void RenderChart(QPainter& painter, const QRect& target);
    // Where printing errors go; by default a message box.
    void SetErrorReport(std::function<void(const QString&)> report);

    // Shows the whole data again (what a double click does).
    void ResetZoom();
    // The text of the values nearest in time to `scenePos` (empty outside the plot area).
    QString ReadoutAt(QPointF scenePos) const;
    // Brings the time of grid row `row` into the chart's view (keeping the zoom) and shows its
    // values in the readout; false for a row that is not there. The grid calls it when the user
    // moves to a row.
    bool ShowGridRowOnChart(int row);
    QString ReadoutText() const;

    const ArchiveData& Data() const { return *data_; }
    ArchiveGridModel* GridModel() const { return grid_; }
    EventGridModel* EventModel() const { return events_; }
    QChart* Chart() const { return chart_; }
    QLineSeries* Series(int i) const { return series_[std::size_t(i)]; }
    QDateTimeAxis* TimeAxis() const { return timeAxis_; }
    QValueAxis* ValueAxis() const { return rightAxis_; }
    QValueAxis* ValveAxis() const { return leftAxis_; }
    ChartCurves* Curves() const { return curves_; }
    // The labels and grid of the time axis, at round times.
    QCategoryAxis* TimeLabels() const { return timeLabels_; }
    // The name a series goes by on the page: its check box's caption ("T11(Т3)", "Т Задания").
    QString DisplayName(int series) const;
    // Where the readout's cursor line stands (x in scene coordinates; hidden: no line).
    const QGraphicsLineItem* CursorLine() const { return cursorLine_; }
    // Serial number and circuit for the title of a printed chart.
    void SetPrintIdentity(QString serial, int circuit);
    QString PrintTitle() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildChart();
    // Feeds every series from the shown table, one replace per series, and fits the axes.
    void ShowTable();
    void FitAxes();
    // Each value axis shows while a series on it is shown.
    void ShowAxesInUse();
    void PlaceTimeLabels();
    void ZoomAt(QPointF scenePos, double factor);
    void Pan(QPointF from, QPointF to);
    void UpdateReadout(QPointF scenePos);
    std::size_t NearestRecord(double msecs) const;  // index into times_ (not empty)
    QString ReadoutOf(std::size_t record) const;
    // The boxed readout and the cursor line at `record` (none: hidden).
    void ShowReadout(std::optional<std::size_t> record);
    // Milliseconds since the epoch of a controller stamp in the computer's local time.
    qint64 LocalMSecs(const ChartStamp& s);

    std::unique_ptr<ArchiveData> data_;
    ArchiveGridModel* grid_ = nullptr;
    EventGridModel* events_ = nullptr;
    QTableView* gridView_ = nullptr;
    QTableView* eventView_ = nullptr;
    QChartView* chartView_ = nullptr;
    QChart* chart_ = nullptr;
    std::array<QLineSeries*, kSeriesCount> series_{};
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* rightAxis_ = nullptr;
    QValueAxis* leftAxis_ = nullptr;
    QGraphicsSimpleTextItem* readout_ = nullptr;
    QGraphicsRectItem* readoutBox_ = nullptr;
    QGraphicsLineItem* cursorLine_ = nullptr;
    ChartCurves* curves_ = nullptr;
    QCategoryAxis* timeLabels_ = nullptr;
    std::array<QString, kSeriesCount> names_;
    QString printSerial_;
    int printCircuit_ = 0;
    std::vector<qint64> times_;  // x of every record of the shown table, in table order
    // The ranges of the whole data, for ResetZoom.
    qint64 fullMin_ = 0, fullMax_ = 0;
    double rightMin_ = 0, rightMax_ = 100, leftMin_ = 0, leftMax_ = 100;
    bool dragging_ = false;
    QPointF dragFrom_;
    // Cache of the local time offset of the last hour converted.
    qint64 offsetDayKey_ = -1;
    bool dayOffsetSteady_ = true;
    qint64 offsetMSecs_ = 0;
    qint64 offsetHourKey_ = -1;
    qint64 hourOffsetMSecs_ = 0;
    std::function<void(const QString&)> report_;
};

}  // namespace vir05
