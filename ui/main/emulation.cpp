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

namespace vir05 {

EmulationPage::EmulationPage(QWidget* pagesRoot, EmulationHooks hooks, QObject* parent,
                             std::uint32_t seed)
    : QObject(parent), root_(pagesRoot), hooks_(std::move(hooks)), random_(seed) {
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &EmulationPage::TimerEmuTimer);

    // The page's controls, found once. The fields take their ranges and precisions from the
    // model's table, so the page and the model cannot disagree about them.
    auto find = [this](const char* name) -> QWidget* {
        return root_ ? root_->findChild<QWidget*>(QString::fromLatin1(name)) : nullptr;
    };
    for (int i = 0; i < kEmuFieldCount; ++i) {
        const EmuFieldSpec& s = EmuFieldSpecs()[std::size_t(i)];
        QWidget* w = find(s.name);
        fieldWidgets_[std::size_t(i)] = w;
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setDecimals(s.decimals);
            d->setRange(s.min, s.max);
        } else if (auto* n = qobject_cast<QSpinBox*>(w)) {
            n->setRange(static_cast<int>(s.min), static_cast<int>(s.max));
        }
    }
    handKp_ = qobject_cast<QAbstractButton*>(find("HandKp"));
    klChgManual_ = qobject_cast<QAbstractButton*>(find("KlChgManual"));
    emulatuon_ = qobject_cast<QAbstractButton*>(find("Emulatuon"));
    ShowFields();

    if (emulatuon_)
        connect(emulatuon_, &QAbstractButton::toggled, this, &EmulationPage::EmulatuonClick);
    if (auto* b = qobject_cast<QPushButton*>(find("Button1")))
        connect(b, &QPushButton::clicked, this, &EmulationPage::Button1Click);
    if (auto* b = qobject_cast<QPushButton*>(find("AddChart")))
        connect(b, &QPushButton::clicked, this, &EmulationPage::AddChartClick);

    auto* view = root_ ? root_->findChild<QChartView*>(QStringLiteral("DBChart1")) : nullptr;
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
    if (hooks_.restorePanels && !(hooks_.linkBusy && hooks_.linkBusy())) hooks_.restorePanels();
}

void EmulationPage::TimerEmuTimer() {
    fields_ = ReadFields();
    // While the previous exchange still runs, the link thread may be sending the image's
    // measurement: the model advances, but its measurement goes into a scratch image, and the
    // start below only stops that exchange.
    const bool busy = hooks_.linkBusy && hooks_.linkBusy();
    std::uint8_t* image = !busy && hooks_.image ? hooks_.image() : scratch_.data();
    EmulationTick(
        fields_, state_, [this] { return random_(); }, image,
        hooks_.circuit ? hooks_.circuit() : 0);
    ShowFields();
    if (hooks_.startExchange) hooks_.startExchange();
}

void EmulationPage::Complete(const std::uint8_t* answer) {
    fields_ = ReadFields();
    EmulationComplete(fields_, answer, hooks_.image ? hooks_.image() : scratch_.data());
    ShowFields();
    // While the emulation runs, an exchange starts every second: the tool panel stays as while
    // a command runs instead of flickering back for a fraction of each second.
    if (hooks_.restorePanels && !timer_.isActive()) hooks_.restorePanels();
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
