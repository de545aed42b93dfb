#include "ui/main/pages.h"

#include "ui_page_archive.h"
#include "ui_page_chart.h"
#include "ui_page_circuits.h"
#include "ui_page_current.h"
#include "ui_page_emulation.h"
#include "ui_page_events.h"
#include "ui_page_manual.h"
#include "ui_page_pumps.h"
#include "ui_page_service.h"
#include "ui_page_signal.h"

namespace vir05 {

namespace {

// Check boxes that only show a state of the controller: ticked by the presentation, never by
// the user.
void MakeDisplayOnly(QWidget* box) {
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
}

}  // namespace

PageCurrent::PageCurrent(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PageCurrent>()) {
    ui_->setupUi(this);
    for (QWidget* box : {ui_->DP1, ui_->DP2, ui_->DP3, ui_->DP12, ui_->DP22})
        MakeDisplayOnly(box);
}

PageCurrent::~PageCurrent() = default;

PageArchive::PageArchive(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PageArchive>()) {
    ui_->setupUi(this);
}

PageArchive::~PageArchive() = default;

QTableView* PageArchive::Grid() const {
    return ui_->StringGrid1;
}

PageEvents::PageEvents(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::PageEvents>()) {
    ui_->setupUi(this);
}

PageEvents::~PageEvents() = default;

PageChart::PageChart(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::PageChart>()) {
    ui_->setupUi(this);
    connect(ui_->Button2, &QPushButton::clicked, this, &PageChart::printRequested);
}

PageChart::~PageChart() = default;

PageService::PageService(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PageService>()) {
    ui_->setupUi(this);
    for (QWidget* box : {ui_->AD_line, ui_->AD_line2})
        MakeDisplayOnly(box);
    connect(ui_->Klb_KZ, &QPushButton::clicked, this, &PageService::calibrateShortRequested);
    connect(ui_->Klb_100, &QPushButton::clicked, this, &PageService::calibrate100Requested);
    connect(ui_->ClrStat, &QPushButton::clicked, this, &PageService::archiveEraseRequested);
    connect(ui_->SetTime, &QPushButton::clicked, this, &PageService::clockSetRequested);
    connect(ui_->NextSerial, &QPushButton::clicked, this, &PageService::serialWriteRequested);
    connect(ui_->Reset, &QPushButton::clicked, this, &PageService::rebootRequested);
}

PageService::~PageService() = default;

PageCircuits::PageCircuits(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PageCircuits>()) {
    ui_->setupUi(this);
    connect(ui_->ShowGr, &QPushButton::clicked, this, [this] { emit valueGraphRequested(0); });
}

PageCircuits::~PageCircuits() = default;

PagePumps::PagePumps(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::PagePumps>()) {
    ui_->setupUi(this);
    for (QWidget* box : {ui_->ErrPomp1, ui_->ErrPomp2})
        MakeDisplayOnly(box);
    connect(ui_->GrN1, &QPushButton::clicked, this, [this] { emit valueGraphRequested(1); });
    connect(ui_->GrN3, &QPushButton::clicked, this, [this] { emit valueGraphRequested(2); });
}

PagePumps::~PagePumps() = default;

PageManual::PageManual(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::PageManual>()) {
    ui_->setupUi(this);
}

PageManual::~PageManual() = default;

PageSignal::PageSignal(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::PageSignal>()) {
    ui_->setupUi(this);
}

PageSignal::~PageSignal() = default;

PageEmulation::PageEmulation(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PageEmulation>()) {
    ui_->setupUi(this);
    connect(ui_->Emulatuon, &QAbstractButton::toggled, this, &PageEmulation::emulationToggled);
    connect(ui_->Button1, &QPushButton::clicked, this, &PageEmulation::chartClearRequested);
    connect(ui_->AddChart, &QPushButton::clicked, this, &PageEmulation::chartRecordRequested);
}

PageEmulation::~PageEmulation() = default;

}  // namespace vir05
