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

template <typename F>
FormPage<F>::FormPage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<F>()) {
    ui_->setupUi(this);
}

template <typename F>
FormPage<F>::~FormPage() = default;

template class FormPage<Ui::PageCurrent>;
template class FormPage<Ui::PageArchive>;
template class FormPage<Ui::PageEvents>;
template class FormPage<Ui::PageChart>;
template class FormPage<Ui::PageService>;
template class FormPage<Ui::PageCircuits>;
template class FormPage<Ui::PagePumps>;
template class FormPage<Ui::PageManual>;
template class FormPage<Ui::PageSignal>;
template class FormPage<Ui::PageEmulation>;

PageCurrent::PageCurrent(QWidget* parent) : FormPage(parent) {
    for (QWidget* box : {ui_->DP1, ui_->DP2, ui_->DP3, ui_->DP12, ui_->DP22})
        MakeDisplayOnly(box);
}

QTableView* PageArchive::Grid() const {
    return ui_->StringGrid1;
}

PageChart::PageChart(QWidget* parent) : FormPage(parent) {
    connect(ui_->Button2, &QPushButton::clicked, this, &PageChart::printRequested);
}

PageService::PageService(QWidget* parent) : FormPage(parent) {
    for (QWidget* box : {ui_->AD_line, ui_->AD_line2})
        MakeDisplayOnly(box);
    connect(ui_->Klb_KZ, &QPushButton::clicked, this, &PageService::calibrateShortRequested);
    connect(ui_->Klb_100, &QPushButton::clicked, this, &PageService::calibrate100Requested);
    connect(ui_->ClrStat, &QPushButton::clicked, this, &PageService::archiveEraseRequested);
    connect(ui_->SetTime, &QPushButton::clicked, this, &PageService::clockSetRequested);
    connect(ui_->NextSerial, &QPushButton::clicked, this, &PageService::serialWriteRequested);
    connect(ui_->Reset, &QPushButton::clicked, this, &PageService::rebootRequested);
}

PageCircuits::PageCircuits(QWidget* parent) : FormPage(parent) {
    connect(ui_->ShowGr, &QPushButton::clicked, this, [this] { emit valueGraphRequested(0); });
}

PagePumps::PagePumps(QWidget* parent) : FormPage(parent) {
    for (QWidget* box : {ui_->ErrPomp1, ui_->ErrPomp2})
        MakeDisplayOnly(box);
    connect(ui_->GrN1, &QPushButton::clicked, this, [this] { emit valueGraphRequested(1); });
    connect(ui_->GrN3, &QPushButton::clicked, this, [this] { emit valueGraphRequested(2); });
}

PageEmulation::PageEmulation(QWidget* parent) : FormPage(parent) {
    connect(ui_->Emulatuon, &QAbstractButton::toggled, this, &PageEmulation::emulationToggled);
    connect(ui_->Button1, &QPushButton::clicked, this, &PageEmulation::chartClearRequested);
    connect(ui_->AddChart, &QPushButton::clicked, this, &PageEmulation::chartRecordRequested);
}

}  // namespace vir05
