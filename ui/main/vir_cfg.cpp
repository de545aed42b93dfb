#include "ui/main/vir_cfg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QTabBar>
#include <algorithm>

#include "core/present/present.h"
#include "ui/main/pages.h"
#include "ui/main/window_frame.h"
#include "ui_page_chart.h"
#include "ui_page_circuits.h"
#include "ui_page_current.h"
#include "ui_vir_cfg.h"

namespace vir05 {

namespace {

// Builds one page and appends it under its form's own caption.
template <typename Page>
Page* AddPage(QTabWidget* tabs) {
    auto* page = new Page(tabs);
    tabs->addTab(page, page->windowTitle());
    return page;
}

// Narrower tabs than the style's own: the ten page captions fit the window's width, so the
// tab bar needs no scroll arrows. Everything else is drawn by the application's style.
class NarrowTabStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace) return 10;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

}  // namespace

TFormCfg::TFormCfg(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::FormCfg>()) {
    ui_->setupUi(this);
    // Numbers are shown and typed with "." whatever the computer's regional setting.
    setLocale(QLocale::c());
    BuildPages();

    QStyle* style = this->style();
    ui_->SpeedButton1->setIcon(style->standardIcon(QStyle::SP_BrowserReload));
    ui_->SpeedButton3->setIcon(style->standardIcon(QStyle::SP_MediaPlay));
    ui_->SpeedButton4->setIcon(style->standardIcon(QStyle::SP_FileDialogDetailedView));
    ui_->SpeedButtonSave->setIcon(style->standardIcon(QStyle::SP_DialogSaveButton));
    ui_->StopButton->setIcon(style->standardIcon(QStyle::SP_BrowserStop));
    // Both panels take the same height, so the pages do not move when one replaces the other.
    const int panelHeight =
        std::max(ui_->PanelRead->sizeHint().height(), ui_->PanelProgress->sizeHint().height());
    ui_->PanelRead->setMinimumHeight(panelHeight);
    ui_->PanelProgress->setMinimumHeight(panelHeight);
    ui_->ErrCount->setCursor(Qt::PointingHandCursor);
    ui_->ErrCount->installEventFilter(this);
    // What the two numbers of the progress panel are.
    if (auto* row = qobject_cast<QHBoxLayout*>(ui_->PanelProgress->layout())) {
        row->insertWidget(0, new QLabel(QStringLiteral("Выполнено:"), ui_->PanelProgress));
        row->insertWidget(row->indexOf(ui_->ErrCount),
                          new QLabel(QStringLiteral("Повторов:"), ui_->PanelProgress));
    }

    Wire();
    SetUpMenuKeys(*this, ui_->StopButton, chart_->Form().Button2);
    AddRussianHints(*this);
}

TFormCfg::~TFormCfg() = default;

void TFormCfg::BuildPages() {
    QTabWidget* tabs = ui_->PageControl1;
    auto* tabStyle = new NarrowTabStyle(QApplication::style()->name());
    tabStyle->setParent(this);
    tabs->tabBar()->setStyle(tabStyle);
    QFont tabFont = tabs->tabBar()->font();
    if (tabFont.pointSizeF() > 8) tabFont.setPointSizeF(tabFont.pointSizeF() - 1);
    tabs->tabBar()->setFont(tabFont);
    current_ = AddPage<PageCurrent>(tabs);
    archive_ = AddPage<PageArchive>(tabs);
    events_ = AddPage<PageEvents>(tabs);
    chart_ = AddPage<PageChart>(tabs);
    service_ = AddPage<PageService>(tabs);
    circuits_ = AddPage<PageCircuits>(tabs);
    pumps_ = AddPage<PagePumps>(tabs);
    manual_ = AddPage<PageManual>(tabs);
    signal_ = AddPage<PageSignal>(tabs);
    emulation_ = AddPage<PageEmulation>(tabs);
    tabs->setCurrentIndex(0);
}

void TFormCfg::Wire() {
    connect(ui_->Open, &QAction::triggered, this, &TFormCfg::OpenClick);
    connect(ui_->Save, &QAction::triggered, this, &TFormCfg::SaveClick);
    connect(ui_->Excel1, &QAction::triggered, this, [this] { emit Excel1Click(false); });
    connect(ui_->Excel2, &QAction::triggered, this, [this] { emit Excel1Click(true); });
    connect(ui_->ReadTek, &QAction::triggered, this, &TFormCfg::ReadTekClick);
    connect(ui_->ReadCycle, &QAction::triggered, this, &TFormCfg::ReadCycleClick);
    connect(ui_->ReadArch, &QAction::triggered, this, &TFormCfg::ReadArchClick);
    connect(ui_->WriteCfg, &QAction::triggered, this, [this] { emit WriteCfgClick(false); });
    connect(ui_->ReWriteCfg, &QAction::triggered, this, [this] { emit WriteCfgClick(true); });
    connect(ui_->N2, &QAction::triggered, this, &TFormCfg::N2Click);
    connect(ui_->AboutMnu, &QAction::triggered, this, &TFormCfg::AboutMnuClick);
    connect(ui_->Help, &QAction::triggered, this, &TFormCfg::HelpClick);

    connect(ui_->SpeedButton1, &QToolButton::clicked, this, &TFormCfg::ReadTekClick);
    connect(ui_->SpeedButton3, &QToolButton::clicked, this, &TFormCfg::ReadCycleClick);
    connect(ui_->SpeedButton4, &QToolButton::clicked, this, &TFormCfg::ReadArchClick);
    connect(ui_->SpeedButtonSave, &QToolButton::clicked, this,
            [this] { emit WriteCfgClick(false); });
    connect(ui_->StopButton, &QPushButton::clicked, this, &TFormCfg::StopButtonClick);

    // `clicked` comes only from the user; a click on the circuit already shown changes nothing.
    connect(ui_->RadioButtonS0, &QRadioButton::clicked, this, [this](bool checked) {
        if (checked) emit RadioButtonS0Click();
    });
    connect(ui_->RadioButtonS1, &QRadioButton::clicked, this, [this](bool checked) {
        if (checked) emit RadioButtonS1Click();
    });
}

void TFormCfg::WireKorrMirror() {
    QSpinBox* tconst = circuits_->Form().TConst;
    QSpinBox* korr = current_->Form().Korr;
    for (auto [from, to, name] :
         {std::tuple{tconst, korr, "Korr"}, std::tuple{korr, tconst, "TConst"}}) {
        connect(from, &QSpinBox::valueChanged, this, [this, from, to, name] {
            if (mirroring_) return;
            const SpinSpec* spec = FindSpinSpec(name);
            if (!spec) return;
            if (const auto v = KorrMirror(from->value(), to->value(), *spec)) {
                mirroring_ = true;
                to->setValue(static_cast<int>(*v));
                mirroring_ = false;
            }
        });
    }
}

QWidget* TFormCfg::Pages() const {
    return ui_->PageControl1;
}

QTabWidget* TFormCfg::PageControl() const {
    return ui_->PageControl1;
}

void TFormCfg::SetCaption(const QString& text) {
    setWindowTitle(text);
}

void TFormCfg::SetReadPanelVisible(bool visible) {
    ui_->PanelRead->setVisible(visible);
}

void TFormCfg::SetProgressPanelVisible(bool visible) {
    ui_->PanelProgress->setVisible(visible);
}

bool TFormCfg::ReadPanelVisible() const {
    return !ui_->PanelRead->isHidden();
}

bool TFormCfg::ProgressPanelVisible() const {
    return !ui_->PanelProgress->isHidden();
}

void TFormCfg::SetProgress(int percent) {
    ui_->ProgressBar->setValue(std::clamp(percent, 0, 100));
}

void TFormCfg::SetRetryCount(int count) {
    ui_->ErrCount->setText(QString::number(count));
}

int TFormCfg::Circuit() const {
    return ui_->RadioButtonS1->isChecked() ? 1 : 0;
}

void TFormCfg::SetCircuit(int circuit) {
    (circuit == 1 ? ui_->RadioButtonS1 : ui_->RadioButtonS0)->setChecked(true);
}

void TFormCfg::SetServicePagesVisible(bool visible) {
    QTabWidget* tabs = ui_->PageControl1;
    for (QWidget* page : std::initializer_list<QWidget*>{events_, service_, emulation_}) {
        const int index = tabs->indexOf(page);
        if (index >= 0) tabs->setTabVisible(index, visible);
    }
}

void TFormCfg::SetWriteEnabled(bool enabled) {
    SetWriteEnabled(enabled, enabled);
}

void TFormCfg::SetWriteEnabled(bool write, bool rewrite) {
    ui_->WriteCfg->setEnabled(write);
    ui_->ReWriteCfg->setEnabled(rewrite);
    ui_->SpeedButtonSave->setEnabled(write);
}

bool TFormCfg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->ErrCount && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        emit ErrCountClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormCfg::closeEvent(QCloseEvent* event) {
    emit FormClose();
    QMainWindow::closeEvent(event);
}

void TFormCfg::showEvent(QShowEvent* event) {
    // Centred on the desktop the first time it is shown, cut to the screen so that the title
    // bar and the menu are always reachable; a remembered place (WindowPlace) comes first.
    if (!centred_) {
        centred_ = true;
        QScreen* screen = this->screen();
        if (screen && !property(kPlacedProperty).toBool()) {
            const QMargins frame = frameGeometry() == geometry()
                                       ? QMargins(6, 32, 6, 6)
                                       : QMargins(geometry().left() - frameGeometry().left(),
                                                  geometry().top() - frameGeometry().top(),
                                                  frameGeometry().right() - geometry().right(),
                                                  frameGeometry().bottom() - geometry().bottom());
            setGeometry(FitOnScreen(size(), std::nullopt, frame, screen->availableGeometry()));
        }
    }
    QMainWindow::showEvent(event);
}

}  // namespace vir05
