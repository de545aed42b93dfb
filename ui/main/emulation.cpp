#include "ui/main/emulation.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <limits>

#include "ui/main/archive_view.h"
#include "ui/main/pages.h"
#include "ui_page_emulation.h"

namespace vir05 {

EmulationPage::EmulationPage(PageEmulation* page, EmulationQueries queries, QObject* parent,
                             std::uint32_t seed)
    : QObject(parent), queries_(std::move(queries)), random_(seed) {
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &EmulationPage::TimerEmuTimer);

    // The fields, found once by the names of the model's table; they take their ranges and
    // precisions from it, so the page and the model cannot disagree about them.
    for (int i = 0; i < kEmuFieldCount; ++i) {
        const EmuFieldSpec& s = EmuFieldSpecs()[std::size_t(i)];
        QWidget* w = page ? page->findChild<QWidget*>(QString::fromLatin1(s.name)) : nullptr;
        fieldWidgets_[std::size_t(i)] = w;
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setDecimals(s.decimals);
            d->setRange(s.min, s.max);
        } else if (auto* n = qobject_cast<QSpinBox*>(w)) {
            n->setRange(static_cast<int>(s.min), static_cast<int>(s.max));
        }
    }
    if (page) {
        handKp_ = page->Form().HandKp;
        klChgManual_ = page->Form().KlChgManual;
        emulatuon_ = page->Form().Emulatuon;
    }
    ShowFields();

    if (page) {
        connect(page, &PageEmulation::emulationToggled, this, &EmulationPage::EmulatuonClick);
        connect(page, &PageEmulation::chartClearRequested, this, &EmulationPage::Button1Click);
        connect(page, &PageEmulation::chartRecordRequested, this, &EmulationPage::AddChartClick);
    }

    QChartView* view = page ? page->Form().DBChart1 : nullptr;
    chart1_ = view ? view->chart() : new QChart();
    if (!view) chart1_->setParent(this);
    chart1_->setTitle(QStringLiteral("tк (t)"));
    indexAxis_ = new QValueAxis(chart1_);
    indexAxis_->setLabelFormat(QStringLiteral("%d"));
    indexAxis_->setTickType(QValueAxis::TicksDynamic);
    indexAxis_->setTickAnchor(0);
    valueAxis_ = new QValueAxis(chart1_);
    chart1_->addAxis(indexAxis_, Qt::AlignBottom);
    chart1_->addAxis(valueAxis_, Qt::AlignRight);
    series1_ = new QLineSeries(chart1_);
    series1_->setName(QStringLiteral("T1"));
    QPen pen(Qt::red);
    pen.setWidth(2);
    series1_->setPen(pen);
    chart1_->addSeries(series1_);
    series1_->attachAxis(indexAxis_);
    series1_->attachAxis(valueAxis_);
    // The valve and the controller's virtual valve are kept with every record but not drawn.
    series2_ = new QLineSeries(this);
    series2_->setName(QStringLiteral("Клапан"));
    series3_ = new QLineSeries(this);
    series3_->setName(QStringLiteral("KlapVirt"));
    chart1_->legend()->setAlignment(Qt::AlignTop);
    RedrawChart();
}

PlantFields EmulationPage::ReadFields() const {
    PlantFields f = fields_;
    for (int i = 0; i < kEmuFieldCount; ++i) {
        QWidget* w = fieldWidgets_[std::size_t(i)];
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w))
            f.Set(static_cast<EmuField>(i), d->value());
        else if (auto* n = qobject_cast<QSpinBox*>(w))
            f.Set(static_cast<EmuField>(i), n->value());
    }
    if (handKp_) f.handKp = handKp_->isChecked();
    if (klChgManual_) f.klChgManual = klChgManual_->isChecked();
    return f;
}

void EmulationPage::ShowFields() {
    for (int i = 0; i < kEmuFieldCount; ++i) {
        QWidget* w = fieldWidgets_[std::size_t(i)];
        const double v = fields_[static_cast<EmuField>(i)];
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w))
            d->setValue(v);
        else if (auto* n = qobject_cast<QSpinBox*>(w))
            n->setValue(static_cast<int>(v));
    }
}

void EmulationPage::EmulatuonClick() {
    if (emulatuon_ && emulatuon_->isChecked()) {
        timer_.start();
        return;
    }
    timer_.stop();
    // The panels stayed as while a command runs between the exchanges; now they come back
    // (at once when no exchange runs, else when it completes).
    if (!(queries_.linkBusy && queries_.linkBusy())) emit readPanelRestoreRequested();
}

void EmulationPage::TimerEmuTimer() {
    fields_ = ReadFields();
    // While the previous exchange still runs, the link thread may be sending the image's
    // measurement: the model advances, but its measurement goes into a scratch image, and the
    // start below only stops that exchange.
    const bool busy = queries_.linkBusy && queries_.linkBusy();
    std::uint8_t* image = !busy && queries_.image ? queries_.image() : scratch_.data();
    EmulationTick(
        fields_, state_, [this] { return random_(); }, image,
        queries_.circuit ? queries_.circuit() : 0);
    ShowFields();
    emit emulatorStepRequested();
}

void EmulationPage::Complete(const std::uint8_t* answer) {
    fields_ = ReadFields();
    EmulationComplete(fields_, answer, queries_.image ? queries_.image() : scratch_.data());
    ShowFields();
    // While the emulation runs, an exchange starts every second: the tool panel stays as while
    // a command runs instead of flickering back for a fraction of each second.
    if (!timer_.isActive()) emit readPanelRestoreRequested();
    AddChartClick();
}

void EmulationPage::AddChartClick() {
    chart_.Add(ReadFields());
    RedrawChart();
}

void EmulationPage::Button1Click() {
    chart_.Clear();
    RedrawChart();
}

void EmulationPage::RedrawChart() {
    const auto& records = chart_.Records();
    QList<QPointF> t11, klap, virt;
    t11.reserve(qsizetype(records.size()));
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    for (std::size_t i = 0; i < records.size(); ++i) {
        const double x = double(i);
        t11.append({x, records[i].t11});
        klap.append({x, records[i].klap});
        virt.append({x, records[i].klapVirt});
        lo = std::min(lo, records[i].t11);
        hi = std::max(hi, records[i].t11);
    }
    series1_->replace(t11);
    series2_->replace(klap);
    series3_->replace(virt);
    indexAxis_->setRange(0, std::max<double>(1, double(records.size()) - 1));
    if (records.empty()) {
        lo = 0;
        hi = 1;
    }
    const double margin = std::max(0.1, (hi - lo) * 0.05);
    valueAxis_->setRange(lo - margin, hi + margin);
    // Whole record numbers on the time axis, about six of them.
    const double span = std::max(1.0, double(records.size()) - 1);
    double interval = 1;
    for (double unit = 1; interval * 6 < span; unit *= 10)
        for (double f : {1.0, 2.0, 5.0})
            if (interval * 6 < span) interval = f * unit;
    indexAxis_->setTickInterval(interval);
    // The legend shows the last value of the series: the title carries it, as the legend
    // redraws its entries from the titles.
    series1_->setName(records.empty()
                          ? QStringLiteral("T1")
                          : QStringLiteral("T1  %1").arg(FormatChartValue(records.back().t11)));
}

}  // namespace vir05
