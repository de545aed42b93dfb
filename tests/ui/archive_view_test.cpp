// The archive grid, the event grid and the archive chart on the window's pages: the models
// behind the grids, the series fed from the chart tables, cycle mode, the series check boxes,
// zoom and pan, the value readout and printing to a PDF file.
#include "ui/main/archive_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QGraphicsLineItem>
#include <QHeaderView>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <cstring>
#include <memory>

#include "model/bytes.h"
#include "ui/main/chart_curves.h"
#include "ui/main/grid_look.h"
#include "ui/main/vir_cfg.h"

namespace vir05 {
namespace {

// Packs a circuit sample as the controller stores it: six 12-bit temperatures in tenths, two to
// every three bytes, then the valve byte and the error word.
void PutSample(std::uint8_t* p, int t11, int t2, int tk, int tn, int real, int base,
               std::uint8_t klap, std::uint16_t errors) {
    auto pair = [](std::uint8_t* q, int lo, int hi) {
        q[0] = static_cast<std::uint8_t>(lo & 0xFF);
        q[1] = static_cast<std::uint8_t>(((lo >> 8) & 0x0F) | ((hi & 0x0F) << 4));
        q[2] = static_cast<std::uint8_t>((hi >> 4) & 0xFF);
    };
    pair(p + 0, t11, t2);
    pair(p + 3, tk, tn);
    pair(p + 6, real, base);
    p[9] = klap;
    PutU16(p, 10, errors);
}

void PutTime(std::uint8_t* r, int year, int month, int day, int hour, int minute) {
    PutU16(r, 0, static_cast<std::uint16_t>(hour << 11 | minute << 5));
    PutU16(r, 2, static_cast<std::uint16_t>((year - 2000) << 9 | month << 5 | day));
}

// An event slot: BCD stamp, code, new and old value.
void PutEvent(std::uint8_t* archive, int slot, std::uint8_t minute, std::uint8_t code,
              std::int16_t newValue, std::int16_t oldValue) {
    std::uint8_t* s = archive + arch::EventLog + slot * arch::EventSlotSize;
    const std::uint8_t stamp[6] = {0x00, minute, 0x10, 0x05, 0x03, 0x24};  // 05.03.2024 10:mm
    std::memcpy(s, stamp, sizeof stamp);
    s[6] = code;
    PutI16(s, 8, newValue);
    PutI16(s, 10, oldValue);
}

qint64 Local(int year, int month, int day, int hour, int minute) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute)).toMSecsSinceEpoch();
}

class ArchiveViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        areas = std::make_unique<MemoryAreas>();
        view = std::make_unique<ArchiveView>(window);
        view->SetErrorReport([this](const QString& e) { errors << e; });
        SetCircuits(2);
    }
    void SetCircuits(int n) {
        areas->DeviceImage()[addr::NumSystems] = static_cast<std::uint8_t>(n);
        snapshot = TakeSnapshot(areas->DeviceImage());
    }
    std::uint8_t* Record(int slot) {
        return areas->ArchiveImage() + arch::Periodic + slot * ArchiveStride(2);
    }
    // Three two-circuit records at 10:00, 10:10 and 10:20 on 5 March 2024, written out of order.
    void PutThreeRecords() {
        const int order[] = {2, 0, 1};
        for (int k = 0; k < 3; ++k) {
            std::uint8_t* r = Record(order[k]);
            PutTime(r, 2024, 3, 5, 10, 10 * k);
            // Circuit 1: T11 21.5 + k, T2 no value, valve 10 k; circuit 2: T11 40 + k.
            PutSample(r + 4, 215 + 10 * k, -2000, 300, 50, 200, 210, std::uint8_t(10 * k), 0x8005);
            PutSample(r + 16, 400 + 10 * k, 100, 100, 100, 100, 100, 77, 0);
        }
    }
    QString GridCell(int row, int column) {
        QAbstractItemModel* m = Grid()->model();
        return m->data(m->index(row, column)).toString();
    }
    QTableView* Grid() { return window.Pages()->findChild<QTableView*>("StringGrid1"); }
    QTableView* Events() { return window.Pages()->findChild<QTableView*>("StringGridE"); }
    QChartView* ChartView() { return window.Pages()->findChild<QChartView*>("DBChart2"); }
    QCheckBox* Box(int i) {
        return window.Pages()->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(i));
    }
    QLineSeries* ByTitle(const QString& title) {
        for (int i = 0; i < ArchiveView::kSeriesCount; ++i)
            if (view->Series(i)->name() == title) return view->Series(i);
        return nullptr;
    }
    // Shows the window on the chart page so that the chart has a plot area.
    void ShowChartPage() {
        window.PageControl()->setCurrentWidget(window.Pages()->findChild<QWidget*>("TabSheet9"));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::processEvents();
    }
    QPoint ViewPoint(double shareX, double shareY) {
        const QRectF plot = view->Chart()->plotArea();
        const QPointF scene(plot.left() + plot.width() * shareX,
                            plot.top() + plot.height() * shareY);
        return ChartView()->mapFromScene(scene);
    }
    qint64 TimeMin() { return view->TimeAxis()->min().toMSecsSinceEpoch(); }
    qint64 TimeMax() { return view->TimeAxis()->max().toMSecsSinceEpoch(); }

    TFormCfg window;
    std::unique_ptr<MemoryAreas> areas;
    std::unique_ptr<ArchiveView> view;
    ImageSnapshot snapshot;
    QStringList errors;
};

TEST_F(ArchiveViewTest, ArchiveGridRowsOfEitherCircuitInOneReset) {
    PutThreeRecords();
    ASSERT_EQ(Grid()->model(), view->GridModel());
    QSignalSpy resets(view->GridModel(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(view->GridModel(), &QAbstractItemModel::rowsInserted);

    view->Fill(*areas, 0, snapshot);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count(), 0);
    QAbstractItemModel* m = Grid()->model();
    ASSERT_EQ(m->rowCount(), 3);
    ASSERT_EQ(m->columnCount(), 16);
    const char* titles[] = {"N",       "Время Дата", "Т11",    "Т2", "Тк", "Тн", "Т21", "Значение",
                            "Задание", "Клапан",     "Ошибки", "",   "",   "",   "",    ""};
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(titles[c])) << c;
    const QStringList first = {
        "1", "05.03.2024 10:00:00", "21.5", "---", "30", "5", "", "20", "21", "0", "1,3,16"};
    for (int c = 0; c < first.size(); ++c)
        EXPECT_EQ(GridCell(0, c), first[c]) << c;
    EXPECT_EQ(GridCell(2, 0), "3");
    EXPECT_EQ(GridCell(2, 1), "05.03.2024 10:20:00");
    EXPECT_EQ(GridCell(2, 2), "23.5");
    EXPECT_EQ(GridCell(2, 9), "20");

    // The second circuit: the same rows with the second sample.
    view->Fill(*areas, 1, snapshot);
    EXPECT_EQ(resets.count(), 2);
    ASSERT_EQ(m->rowCount(), 3);
    EXPECT_EQ(GridCell(0, 0), "1");
    EXPECT_EQ(GridCell(0, 1), "05.03.2024 10:00:00");
    EXPECT_EQ(GridCell(0, 2), "40");
    EXPECT_EQ(GridCell(0, 9), "77");
    EXPECT_EQ(GridCell(0, 10), "");

    // After a read of current values the archive is zero: no rows.
    std::memset(areas->ArchiveImage(), 0, kArchiveSize);
    view->Fill(*areas, 1, snapshot);
    EXPECT_EQ(m->rowCount(), 0);
}

TEST_F(ArchiveViewTest, EventGridKeepsNothingOfAnEarlierFill) {
    std::uint8_t* archive = areas->ArchiveImage();
    PutEvent(archive, 0, 0x01, 0x85, 3, 1);
    PutEvent(archive, 1, 0x02, 0xFF, 0, 0);
    PutEvent(archive, 5, 0x03, 0x05, -7, 12);
    view->FillEvents(archive);
    // The grid shows the event model through a sorting proxy, in time order at first.
    auto* sorted = qobject_cast<QSortFilterProxyModel*>(Events()->model());
    ASSERT_NE(sorted, nullptr);
    ASSERT_EQ(sorted->sourceModel(), view->EventModel());
    QAbstractItemModel* m = Events()->model();
    ASSERT_EQ(m->rowCount(), 3);
    ASSERT_EQ(m->columnCount(), 8);
    EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), "Время Дата");
    EXPECT_EQ(m->headerData(5, Qt::Horizontal).toString(), "Cтарое значение");
    auto cell = [m](int r, int c) { return m->data(m->index(r, c)).toString(); };
    EXPECT_EQ(cell(0, 0), "0");
    EXPECT_EQ(cell(0, 1), "05.03.2024 10:01:00");
    EXPECT_EQ(cell(0, 2), "133");
    EXPECT_EQ(cell(0, 3), "Руч.упрNконтур к2");
    EXPECT_EQ(cell(1, 3), "Выключение");
    EXPECT_EQ(cell(2, 4), "-7");
    EXPECT_EQ(cell(2, 5), "12");

    // A refill with one event leaves one row, not the two older ones below it.
    std::memset(archive, 0xFF, arch::EventSlots * arch::EventSlotSize);
    PutEvent(archive, 9, 0x30, 0x00, 1, 0);
    view->FillEvents(archive);
    ASSERT_EQ(m->rowCount(), 1);
    EXPECT_EQ(cell(0, 1), "05.03.2024 10:30:00");
    EXPECT_EQ(cell(0, 3), "Включен");

    std::memset(archive, 0, arch::EventSlots * arch::EventSlotSize);
    view->FillEvents(archive);
    EXPECT_EQ(m->rowCount(), 0);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "N");
}

TEST_F(ArchiveViewTest, SeriesTitlesAxesAndWidths) {
    ASSERT_EQ(ChartView()->chart(), view->Chart());
    const QStringList titles = {"T11", "T2", "Tк", "Tн", "T21", "Klap", "TЗ", "TР"};
    ASSERT_EQ(view->Chart()->series().size(), 8);
    for (int i = 0; i < 8; ++i) {
        QLineSeries* s = view->Series(i);
        EXPECT_EQ(s->name(), titles[i]);
        if (i != 5) {
            EXPECT_EQ(s->name().at(0).unicode(), u'T') << i;  // Latin
        }
        ASSERT_EQ(s->attachedAxes().size(), 2) << i;
        EXPECT_TRUE(s->attachedAxes().contains(view->TimeAxis()));
        EXPECT_TRUE(s->attachedAxes().contains(i == 5 ? view->ValveAxis() : view->ValueAxis()));
    }
    // Latin T followed by Cyrillic Ze and Er.
    EXPECT_EQ(view->Series(6)->name(), QString::fromUtf8("T\xD0\x97"));
    EXPECT_EQ(view->Series(7)->name(), QString::fromUtf8("T\xD0\xA0"));
    EXPECT_EQ(view->Chart()->axes(Qt::Vertical, view->Series(5)).value(0)->alignment(),
              Qt::AlignLeft);
    EXPECT_EQ(view->Chart()->axes(Qt::Vertical, view->Series(0)).value(0)->alignment(),
              Qt::AlignRight);
    EXPECT_EQ(view->TimeAxis()->format(), "dd.MM hh:mm");
    EXPECT_GT(view->Series(0)->pen().widthF(), 0);
    EXPECT_DOUBLE_EQ(view->Series(6)->pen().widthF(), 2 * view->Series(0)->pen().widthF());
    EXPECT_DOUBLE_EQ(view->Series(7)->pen().widthF(), view->Series(0)->pen().widthF());
}

// Each series gets its field of the shown table in one replace; empty fields give no point.
TEST_F(ArchiveViewTest, SeriesFedFromTheTableOfTheSelectedCircuit) {
    PutThreeRecords();
    std::vector<std::unique_ptr<QSignalSpy>> replaced, added;
    for (int i = 0; i < 8; ++i) {
        replaced.push_back(
            std::make_unique<QSignalSpy>(view->Series(i), &QXYSeries::pointsReplaced));
        added.push_back(std::make_unique<QSignalSpy>(view->Series(i), &QXYSeries::pointAdded));
    }
    view->Fill(*areas, 0, snapshot);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(replaced[std::size_t(i)]->count(), 1) << i;
        EXPECT_EQ(added[std::size_t(i)]->count(), 0) << i;
    }
    const QList<QPointF> t11 = ByTitle("T11")->points();
    ASSERT_EQ(t11.size(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(qint64(t11[k].x()), Local(2024, 3, 5, 10, 10 * k));
        EXPECT_NEAR(t11[k].y(), 21.5 + k, 1e-9);
    }
    EXPECT_TRUE(ByTitle("T2")->points().isEmpty());   // -2000: no value
    EXPECT_TRUE(ByTitle("T21")->points().isEmpty());  // not in the archive
    EXPECT_NEAR(ByTitle("Tк")->points().value(0).y(), 30.0, 1e-9);
    EXPECT_NEAR(ByTitle("Tн")->points().value(0).y(), 5.0, 1e-9);
    EXPECT_NEAR(ByTitle("TР")->points().value(0).y(), 20.0, 1e-9);
    EXPECT_NEAR(ByTitle("TЗ")->points().value(0).y(), 21.0, 1e-9);
    EXPECT_NEAR(ByTitle("Klap")->points().value(2).y(), 20.0, 1e-9);
    // The time axis spans the data.
    EXPECT_EQ(TimeMin(), Local(2024, 3, 5, 10, 0));
    EXPECT_EQ(TimeMax(), Local(2024, 3, 5, 10, 20));
    EXPECT_LE(view->ValueAxis()->min(), 5.0);
    EXPECT_GE(view->ValueAxis()->max(), 30.0);

    view->Fill(*areas, 1, snapshot);
    ASSERT_EQ(ByTitle("T11")->points().size(), 3);
    EXPECT_NEAR(ByTitle("T11")->points()[1].y(), 41.0, 1e-9);
    EXPECT_NEAR(ByTitle("Klap")->points()[1].y(), 77.0, 1e-9);

    // One circuit and the second selected: nothing to draw.
    SetCircuits(1);
    view->Fill(*areas, 1, snapshot);
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(view->Series(i)->points().isEmpty()) << i;
}

TEST_F(ArchiveViewTest, CycleModeCollectsCurrentValues) {
    PutThreeRecords();
    std::uint8_t* image = areas->DeviceImage();
    auto read = [&](std::uint8_t minute, std::int16_t t11a, std::int16_t t11b) {
        const std::uint8_t clock[7] = {0x00, minute, 0x12, 0x02, 0x06, 0x03, 0x24};
        std::memcpy(image, clock, sizeof clock);  // 06.03.2024 12:mm:00
        PutI16(image + CircuitRecordAddr(0), rec::T11, t11a);
        PutI16(image + CircuitRecordAddr(1), rec::T11, t11b);
        return view->AddCurrent(*areas);
    };
    EXPECT_FALSE(read(0x00, 2150, 3150));  // not in cycle mode: nothing collected
    view->SetCycleMode(true);
    EXPECT_TRUE(read(0x00, 2150, 3150));
    EXPECT_TRUE(read(0x01, 2200, 3200));

    // A pass in cycle mode shows the collected values, not the archive's records.
    view->Fill(*areas, 0, snapshot);
    EXPECT_EQ(view->GridModel()->rowCount(), 3);
    QList<QPointF> p = ByTitle("T11")->points();
    ASSERT_EQ(p.size(), 2);
    EXPECT_EQ(qint64(p[1].x()), Local(2024, 3, 6, 12, 1));
    EXPECT_NEAR(p[1].y(), 22.0, 1e-9);
    view->Fill(*areas, 1, snapshot);
    p = ByTitle("T11")->points();
    ASSERT_EQ(p.size(), 2);
    EXPECT_NEAR(p[0].y(), 31.5, 1e-9);

    // The next read adds to the shown chart at once.
    EXPECT_TRUE(read(0x02, 2250, 3250));
    EXPECT_EQ(ByTitle("T11")->points().size(), 3);

    view->SetCycleMode(false);
    view->Fill(*areas, 0, snapshot);
    p = ByTitle("T11")->points();
    ASSERT_EQ(p.size(), 3);
    EXPECT_NEAR(p[0].y(), 21.5, 1e-9);  // the archive again
}

// A check box shows or hides the series whose title equals its hint, exactly; the others stay.
TEST_F(ArchiveViewTest, CheckBoxesShowAndHideTheirSeries) {
    struct Case {
        int box;
        const char* series;  // nullptr: the hint names no series
    } cases[] = {{1, "T11"},   {2, "T2"}, {3, "Tк"}, {4, "Tн"},  {5, "T21"},
                 {6, nullptr}, {7, "TЗ"}, {8, "TР"}, {9, "Klap"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        QCheckBox* box = Box(c.box);
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(box->isChecked());
        QLineSeries* target = c.series ? ByTitle(QString::fromUtf8(c.series)) : nullptr;
        if (c.series) {
            ASSERT_NE(target, nullptr);
        }
        box->setChecked(false);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(view->Series(i)->isVisible(), view->Series(i) != target) << i;
        box->setChecked(true);
        for (int i = 0; i < 8; ++i)
            EXPECT_TRUE(view->Series(i)->isVisible()) << i;
    }

    // "Tk" with a Latin k is not the title "Tк".
    QCheckBox latin;
    latin.setToolTip("Tk");
    latin.setChecked(false);
    view->CheckBox1Click(&latin);
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(view->Series(i)->isVisible()) << i;
    view->CheckBox1Click(nullptr);
}

TEST_F(ArchiveViewTest, WheelZoomDragPanAndDoubleClickReset) {
    PutThreeRecords();
    view->Fill(*areas, 0, snapshot);
    ShowChartPage();
    ASSERT_GT(view->Chart()->plotArea().width(), 100);
    const qint64 lo = TimeMin(), hi = TimeMax();
    QWidget* vp = ChartView()->viewport();

    // Wheel forward at the middle: a narrower range around the middle.
    const QPoint middle = ViewPoint(0.5, 0.5);
    QWheelEvent in(middle, vp->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(vp, &in);
    const qint64 zoomedLo = TimeMin(), zoomedHi = TimeMax();
    EXPECT_GT(zoomedLo, lo);
    EXPECT_LT(zoomedHi, hi);
    const double span = double(hi - lo);
    EXPECT_NEAR(double(zoomedHi - zoomedLo), 0.8 * span, 0.001 * span);
    EXPECT_NEAR(double(zoomedLo + zoomedHi) / 2, double(lo + hi) / 2, 0.005 * span);

    // Dragging to the right shows earlier times; the span stays.
    const double valueLo = view->ValueAxis()->min();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, ViewPoint(0.5, 0.5));
    QTest::mouseMove(vp, ViewPoint(0.75, 0.5));
    QMouseEvent move(QEvent::MouseMove, QPointF(ViewPoint(0.75, 0.6)),
                     vp->mapToGlobal(QPointF(ViewPoint(0.75, 0.6))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(vp, &move);
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, ViewPoint(0.75, 0.6));
    EXPECT_LT(TimeMin(), zoomedLo);
    EXPECT_NEAR(double(TimeMax() - TimeMin()), double(zoomedHi - zoomedLo), 0.001 * span);
    EXPECT_GT(view->ValueAxis()->min(), valueLo);  // dragged down: higher values come in

    QTest::mouseDClick(vp, Qt::LeftButton, Qt::NoModifier, ViewPoint(0.5, 0.5));
    EXPECT_EQ(TimeMin(), lo);
    EXPECT_EQ(TimeMax(), hi);
    EXPECT_DOUBLE_EQ(view->ValueAxis()->min(), valueLo);
}

TEST_F(ArchiveViewTest, ReadoutShowsTheValuesNearestTheCursor) {
    PutThreeRecords();
    view->Fill(*areas, 0, snapshot);
    ShowChartPage();
    const QRectF plot = view->Chart()->plotArea();
    // Just right of the middle record (10:10).
    const QPointF at(plot.left() + plot.width() * 0.55, plot.center().y());
    const QString text = view->ReadoutAt(at);
    EXPECT_TRUE(text.startsWith("05.03.2024 10:10:00")) << text.toStdString();
    // The names of the check boxes, the values as finely as the archive keeps them.
    EXPECT_TRUE(text.contains("\nT11(Т3): 22.5 °C")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nKlap: 10 %")) << text.toStdString();
    EXPECT_FALSE(text.contains("T2:"));  // no value

    // Hidden series are left out; outside the plot area there is nothing to show.
    Box(9)->setChecked(false);
    EXPECT_FALSE(view->ReadoutAt(at).contains("Klap"));
    EXPECT_TRUE(view->ReadoutAt(plot.topLeft() - QPointF(5, 5)).isEmpty());

    // Moving the mouse puts the text on the chart.
    QTest::mouseMove(ChartView()->viewport(), ChartView()->mapFromScene(at));
    EXPECT_TRUE(view->ReadoutText().startsWith("05.03.2024 10:10:00"));
    // with a cursor line at the record's time, the middle of the plot
    ASSERT_TRUE(view->CursorLine()->isVisible());
    EXPECT_NEAR(view->CursorLine()->line().x1(), plot.center().x(), 1.0);
    EXPECT_DOUBLE_EQ(view->CursorLine()->line().y1(), plot.top());
    EXPECT_DOUBLE_EQ(view->CursorLine()->line().y2(), plot.bottom());
}

TEST_F(ArchiveViewTest, TheChartFollowsTheRowChosenInTheGrid) {
    PutThreeRecords();
    view->Fill(*areas, 0, snapshot);
    ShowChartPage();
    // Zoomed in on the first record, the user moves to the last row of the table.
    const QDateTime first(QDate(2024, 3, 5), QTime(9, 59));
    view->TimeAxis()->setRange(first, first.addSecs(120));
    Grid()->setCurrentIndex(Grid()->model()->index(2, 0));
    const qint64 last = QDateTime(QDate(2024, 3, 5), QTime(10, 20)).toMSecsSinceEpoch();
    EXPECT_LE(TimeMin(), last);
    EXPECT_GE(TimeMax(), last);
    EXPECT_EQ(TimeMax() - TimeMin(), 120000);  // the zoom is kept
    EXPECT_TRUE(view->ReadoutText().startsWith("05.03.2024 10:20:00"))
        << view->ReadoutText().toStdString();
    // A row already in view leaves the range alone.
    const qint64 lo = TimeMin();
    Grid()->setCurrentIndex(Grid()->model()->index(2, 3));
    EXPECT_EQ(TimeMin(), lo);
    EXPECT_FALSE(view->ShowGridRowOnChart(7));
}

TEST(ChartValueFormat, GroupsAndThreeDecimals) {
    struct Case {
        double v;
        const char* text;
    } cases[] = {{0, "0.000"},          {21.5, "21.500"},       {-5.25, "-5.250"},
                 {999.9994, "999.999"}, {1234.5, "1,234.500"},  {-1234567.891, "-1,234,567.891"},
                 {-0.0004, "0.000"},    {100000, "100,000.000"}};
    for (const Case& c : cases)
        EXPECT_EQ(FormatChartValue(c.v), c.text) << c.v;
}

int CountPages(const QByteArray& pdf) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    int n = 0;
    for (auto it = page.globalMatch(QString::fromLatin1(pdf)); it.hasNext(); it.next())
        ++n;
    return n;
}

TEST_F(ArchiveViewTest, PrintsTheChartOnOnePdfPage) {
    PutThreeRecords();
    view->Fill(*areas, 0, snapshot);
    ShowChartPage();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("chart.pdf");
    const QSizeF screenSize = view->Chart()->size();
    ASSERT_TRUE(view->PrintToPdf(path));
    EXPECT_TRUE(errors.isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray pdf = f.readAll();
    EXPECT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_EQ(CountPages(pdf), 1);
    EXPECT_GT(pdf.size(), 2000);
    // The chart on the page goes back to its place on the screen.
    EXPECT_EQ(view->Chart()->size(), screenSize);

    // A file that cannot be written is reported, not claimed as printed.
    EXPECT_FALSE(view->PrintToPdf(dir.filePath("missing/dir/chart.pdf")));
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace vir05

namespace vir05 {
namespace {

// A full one-circuit archive: every record in the grid and on the chart, in time order.
TEST_F(ArchiveViewTest, FullArchiveOnGridAndChart) {
    SetCircuits(1);
    const int count = ArchiveSlotCount(1);
    for (int slot = 0; slot < count; ++slot) {
        std::uint8_t* r = areas->ArchiveImage() + arch::Periodic + slot * ArchiveStride(1);
        const int k = (slot + 3000) % count;  // the ring's oldest record sits at slot 4168
        const int minutes = k * 10;
        PutTime(r, 2024, 1 + minutes / (60 * 24 * 31), 1 + (minutes / (60 * 24)) % 31,
                (minutes / 60) % 24, minutes % 60);
        PutSample(r + 4, 200 + k % 100, 0, 0, 0, 0, 0, std::uint8_t(k % 101), 0);
    }
    view->Fill(*areas, 0, snapshot);
    EXPECT_EQ(view->GridModel()->rowCount(), count);
    EXPECT_EQ(GridCell(0, 1), "01.01.2024");
    EXPECT_EQ(GridCell(count - 1, 0), QString::number(count));
    const QList<QPointF> p = ByTitle("T11")->points();
    ASSERT_EQ(p.size(), count);
    for (int i = 1; i < count; ++i)
        ASSERT_GT(p[i].x(), p[i - 1].x()) << i;
    EXPECT_EQ(qint64(p[0].x()), Local(2024, 1, 1, 0, 0));
    EXPECT_EQ(ByTitle("Klap")->points().size(), count);
}

// The print button asks for a printer first; cancelling prints nothing and reports nothing.
TEST_F(ArchiveViewTest, PrintButtonCancelledPrintsNothing) {
    bool dialogSeen = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            dialogSeen = qobject_cast<QDialog*>(modal) != nullptr;
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
    EXPECT_FALSE(view->Button2Click());
    EXPECT_TRUE(dialogSeen);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace vir05

namespace vir05 {
namespace {

// The window may be closed before the archive view goes, and the other way round.
TEST(ArchiveViewLifetime, EitherMayGoFirst) {
    {
        auto window = std::make_unique<TFormCfg>();
        ArchiveView view(*window);
        window.reset();
    }
    TFormCfg window;
    { ArchiveView view(window); }
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.findChild<QChartView*>("DBChart2")->viewport(), &wheel);
    // A new view takes the pages over again.
    ArchiveView again(window);
    EXPECT_EQ(window.findChild<QChartView*>("DBChart2")->chart()->series().size(), 8);
}

}  // namespace
}  // namespace vir05

namespace vir05 {
namespace {

// The chart as an instrument: gaps, axes that follow their series, names, round time labels,
// no more points than pixel columns, the printed title.
TEST_F(ArchiveViewTest, AGapInTheRecordsIsAGapInTheCurve) {
    // 10:00, 10:10, 10:20, 10:30 (T11 without a value), 10:40, then nothing until 15:00, 15:10.
    const int minutes[] = {0, 10, 20, 30, 40, 300, 310};
    for (int k = 0; k < 7; ++k) {
        std::uint8_t* r = Record(k);
        PutTime(r, 2024, 3, 5, 10 + minutes[k] / 60, minutes[k] % 60);
        PutSample(r + 4, k == 3 ? -2000 : 215 + k, 100, 300, 50, 200, 210, 40, 0);
        PutSample(r + 16, 400, 100, 100, 100, 100, 100, 77, 0);
    }
    view->Fill(*areas, 0, snapshot);
    ShowChartPage();
    const int t11 = 0, klap = 5;
    auto sizes = [&](int series) {
        std::vector<int> n;
        for (const QPolygonF& piece : view->Curves()->Pieces(series))
            n.push_back(int(piece.size()));
        return n;
    };
    // The valve has a value in every record: one piece before the gap, one after.
    EXPECT_EQ(sizes(klap), (std::vector<int>{5, 2}));
    // T11 breaks also at the record without a value.
    EXPECT_EQ(sizes(t11), (std::vector<int>{3, 1, 2}));
    // The series still hold every point with a value (legend, readout, other users).
    EXPECT_EQ(ByTitle("T11")->points().size(), 6);
}

TEST_F(ArchiveViewTest, AnAxisHidesWithTheLastSeriesOnIt) {
    PutThreeRecords();
    view->Fill(*areas, 0, snapshot);
    EXPECT_EQ(view->ValueAxis()->titleText(), QString("Температура, °C"));
    EXPECT_EQ(view->ValveAxis()->titleText(), QString("Клапан, %"));
    // Boxes 1-5, 7, 8 show temperatures (6 "G" has no series), box 9 the valve.
    const int temperatures[] = {1, 2, 3, 4, 5, 7, 8};
    for (int i : temperatures) {
        EXPECT_TRUE(view->ValueAxis()->isVisible()) << "before box " << i;
        Box(i)->setChecked(false);
    }
    EXPECT_FALSE(view->ValueAxis()->isVisible());
    EXPECT_TRUE(view->ValveAxis()->isVisible());
    Box(9)->setChecked(false);
    EXPECT_FALSE(view->ValveAxis()->isVisible());
    Box(4)->setChecked(true);
    Box(9)->setChecked(true);
    EXPECT_TRUE(view->ValueAxis()->isVisible());
    EXPECT_TRUE(view->ValveAxis()->isVisible());
}

TEST_F(ArchiveViewTest, LegendAndCheckBoxesUseTheSameNames) {
    for (int box = 1; box <= 9; ++box) {
        QLineSeries* s = ByTitle(Box(box)->toolTip());
        if (!s) continue;  // "G" has no series
        const auto markers = view->Chart()->legend()->markers(s);
        ASSERT_EQ(markers.size(), 1) << box;
        EXPECT_EQ(markers[0]->label(), Box(box)->text()) << box;
    }
}

TEST_F(ArchiveViewTest, TimeLabelsAtRoundTimes) {
    PutThreeRecords();  // 10:00 to 10:20
    view->Fill(*areas, 0, snapshot);
    ShowChartPage();
    QCategoryAxis* labels = view->TimeLabels();
    ASSERT_GE(labels->count(), 2);
    for (const QString& label : labels->categoriesLabels()) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(labels->endValue(label)));
        EXPECT_EQ(at.time().second(), 0) << label.toStdString();
        EXPECT_EQ(at.time().minute() % 5, 0) << label.toStdString();
        EXPECT_EQ(at.toString("dd.MM hh:mm"), label);
        EXPECT_GE(at.toMSecsSinceEpoch(), TimeMin());
        EXPECT_LE(at.toMSecsSinceEpoch(), TimeMax());
    }
}

TEST_F(ArchiveViewTest, AFullArchiveIsDrawnWithNoMorePointsThanPixelColumns) {
    SetCircuits(1);
    const int count = ArchiveSlotCount(1);
    for (int slot = 0; slot < count; ++slot) {
        std::uint8_t* r = areas->ArchiveImage() + arch::Periodic + slot * ArchiveStride(1);
        const int minutes = slot * 10;
        PutTime(r, 2024, 1 + minutes / (60 * 24 * 31), 1 + (minutes / (60 * 24)) % 31,
                (minutes / 60) % 24, minutes % 60);
        // A single peak of 150 °C in the middle must survive the thinning.
        PutSample(r + 4, slot == count / 2 ? 1500 : 200 + slot % 50, 0, 0, 0, 0, 0, 10, 0);
    }
    view->Fill(*areas, 0, snapshot);
    ShowChartPage();
    const QRectF plot = view->Chart()->plotArea();
    qsizetype drawn = 0;
    double top = plot.bottom();
    for (const QPolygonF& piece : view->Curves()->Pieces(0)) {
        drawn += piece.size();
        for (const QPointF& p : piece)
            top = std::min(top, p.y());
    }
    EXPECT_LE(drawn, 2 * (qsizetype(plot.width()) + 3));
    EXPECT_GT(drawn, qsizetype(plot.width()));  // every column has its points
    // The peak is the highest value: it stands at the top of the value axis's range.
    const double peakY = plot.bottom() - (150.0 - view->ValueAxis()->min()) /
                                             (view->ValueAxis()->max() - view->ValueAxis()->min()) *
                                             plot.height();
    EXPECT_NEAR(top, peakY, 0.5);
}

TEST(CurvePieces, ThinsBreaksAndKeepsExtremes) {
    // Ten records in one pixel column: one upright stroke from the extreme met first (9, at
    // record 3) to the other (-9, at record 6).
    std::vector<qint64> t;
    std::vector<double> v;
    for (int k = 0; k < 10; ++k) {
        t.push_back(k);
        v.push_back(k == 3 ? 9 : k == 6 ? -9 : 0);
    }
    CurveFrame f{0, 1000, -10, 10, 0, 100, 100, 20};  // y: 100 at -10, 80 at +10
    auto pieces = CurvePieces(t, v, f, 1000);
    ASSERT_EQ(pieces.size(), 1u);
    ASSERT_EQ(pieces[0].size(), 2);
    EXPECT_DOUBLE_EQ(pieces[0][0].y(), 81.0);
    EXPECT_DOUBLE_EQ(pieces[0][1].y(), 99.0);
    // The other way round when the low one comes first.
    std::swap(v[3], v[6]);
    pieces = CurvePieces(t, v, f, 1000);
    ASSERT_EQ(pieces.size(), 1u);
    ASSERT_EQ(pieces[0].size(), 2);
    EXPECT_DOUBLE_EQ(pieces[0][0].y(), 99.0);
    EXPECT_DOUBLE_EQ(pieces[0][1].y(), 81.0);
    // A step longer than the gap breaks; a value without meaning breaks.
    t = {0, 100, 200, 900, 1000};
    v = {1, 2, std::nan(""), 3, 4};
    pieces = CurvePieces(t, v, f, 300);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), 2);
    EXPECT_EQ(pieces[1].size(), 2);
    EXPECT_EQ(GapThreshold({0, 600000, 1200000, 1800000}), 1800000);
    EXPECT_EQ(GapThreshold({}), 60000);
}

TEST_F(ArchiveViewTest, ThePrintedChartSaysWhoseAndWhen) {
    PutThreeRecords();
    PutI32(areas->DeviceImage(), addr::DevNumber, 500001);
    view->Fill(*areas, 1, snapshot);
    const QString title = view->PrintTitle();
    EXPECT_TRUE(title.contains("S/N 500001")) << title.toStdString();
    EXPECT_TRUE(title.contains("контур 2")) << title.toStdString();
    EXPECT_TRUE(title.contains("с 05.03.2024 10:00 по 05.03.2024 10:20")) << title.toStdString();
    EXPECT_TRUE(title.contains("Напечатано " + QDate::currentDate().toString("dd.MM.yyyy")));
}

}  // namespace
}  // namespace vir05

namespace vir05 {
namespace {

// The event log sorts by a click on a column title: time order at first, whatever slot an
// event sits in; "N" gives the slot order back; numbers sort as numbers.
TEST_F(ArchiveViewTest, EventsSortByTheColumnClicked) {
    std::uint8_t* archive = areas->ArchiveImage();
    std::memset(archive, 0xFF, arch::EventSlots * arch::EventSlotSize);
    // Slots 0..3 hold 10:30, 10:05, 10:20, 10:10 (a ring that wrapped), codes 5, 133, 12, 7.
    const std::uint8_t minutes[] = {0x30, 0x05, 0x20, 0x10};
    const std::uint8_t codes[] = {5, 133, 12, 7};
    for (int k = 0; k < 4; ++k)
        PutEvent(archive, k, minutes[k], codes[k], std::int16_t(k), 0);
    view->FillEvents(archive);
    QAbstractItemModel* m = Events()->model();
    auto column = [m](int c) {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->data(m->index(r, c)).toString();
        return out;
    };
    EXPECT_EQ(column(1), QStringList({"05.03.2024 10:05:00", "05.03.2024 10:10:00",
                                      "05.03.2024 10:20:00", "05.03.2024 10:30:00"}));
    QHeaderView* header = Events()->horizontalHeader();
    const struct {
        int column;
        Qt::SortOrder order;
        QStringList want;  // of column 2, the codes
    } clicks[] = {
        {0, Qt::AscendingOrder, {"5", "133", "12", "7"}},   // the slots' order
        {2, Qt::AscendingOrder, {"5", "7", "12", "133"}},   // by value, not by text
        {1, Qt::DescendingOrder, {"5", "12", "7", "133"}},  // newest first
    };
    for (const auto& c : clicks) {
        header->setSortIndicator(c.column, c.order);
        EXPECT_EQ(column(2), c.want) << c.column;
    }
    // Every column has a title.
    for (int c = 0; c < m->columnCount(); ++c)
        EXPECT_FALSE(m->headerData(c, Qt::Horizontal).toString().isEmpty()) << c;
    EXPECT_EQ(m->headerData(3, Qt::Horizontal).toString(), "Событие");
}

TEST(EventTimeKey, DatesAndTimesInOrder) {
    EXPECT_LT(EventSortModel::TimeKey("31.12.2023 23:59:59"),
              EventSortModel::TimeKey("01.01.2024"));
    EXPECT_LT(EventSortModel::TimeKey("01.01.2024"), EventSortModel::TimeKey("01.01.2024 0:00:01"));
    EXPECT_LT(EventSortModel::TimeKey("05.03.2024 9:59:00"),
              EventSortModel::TimeKey("05.03.2024 10:00:00"));
    EXPECT_EQ(EventSortModel::TimeKey("Выключение"), -1);
    EXPECT_EQ(EventSortModel::TimeKey("133"), -1);
}

// The archive grid: units in the titles' hints, numbers to the right, the empty columns out of
// the way, the number and time in view when scrolled right; the cells' texts unchanged.
TEST_F(ArchiveViewTest, ArchiveGridReadsLikeATable) {
    PutThreeRecords();
    view->Fill(*areas, 0, snapshot);
    QAbstractItemModel* m = Grid()->model();
    EXPECT_TRUE(m->headerData(2, Qt::Horizontal, Qt::ToolTipRole).toString().endsWith("°C"));
    EXPECT_TRUE(m->headerData(9, Qt::Horizontal, Qt::ToolTipRole).toString().endsWith("%"));
    EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), "Т11");  // the title itself stays
    EXPECT_EQ(
        m->data(m->index(0, 2), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
        Qt::AlignRight);
    EXPECT_EQ(GridCell(0, 2), "21.5");
    // T21 is not in the archive, columns 11-15 hold nothing: hidden. The rest shown.
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(Grid()->isColumnHidden(c), c == 6 || c >= 11) << c;
    // With one circuit and the second one selected only the numbers and times are left.
    SetCircuits(1);
    view->Fill(*areas, 1, snapshot);
    ASSERT_GT(m->rowCount(), 0);  // the records' times are all there is
    for (int c = 2; c < 11; ++c)
        EXPECT_TRUE(Grid()->isColumnHidden(c)) << c;

    auto* frozen = Grid()->findChild<QTableView*>("StringGrid1Frozen");
    ASSERT_NE(frozen, nullptr);
    EXPECT_EQ(frozen->model(), Grid()->model());
    EXPECT_EQ(frozen->selectionModel(), Grid()->selectionModel());
    EXPECT_FALSE(frozen->isColumnHidden(0));
    EXPECT_FALSE(frozen->isColumnHidden(1));
    EXPECT_TRUE(frozen->isColumnHidden(2));
}

}  // namespace
}  // namespace vir05
