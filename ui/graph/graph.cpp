#include "ui/graph/graph.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QShowEvent>
#include <QTableWidget>
#include <array>

#include "core/schedule.h"
#include "ui_graph.h"

namespace vir05 {

namespace {

constexpr int kRows = kScheduleEntries + 1;  // a header row and one row per slot
constexpr int kTimeCol = 1;
constexpr int kDaysCol = 2;
constexpr int kValueCol = 3;

QString Qs(const std::string& s) {
    return QString::fromStdString(s);
}

// The text of a cell, empty for a cell that has no item yet.
QString Cell(const QTableWidget* grid, int row, int col) {
    const QTableWidgetItem* item = grid->item(row, col);
    return item ? item->text() : QString();
}

void SetCell(QTableWidget* grid, int row, int col, const QString& text) {
    QTableWidgetItem* item = grid->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        grid->setItem(row, col, item);
    }
    item->setText(text);
}

}  // namespace

TValueGraph::TValueGraph(MemoryAreas& areas, QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::TValueGraph>()), areas_(areas) {
    ui_->setupUi(this);
    // The caption keeps its name; what is shown is said inside the window.
    shown_ = new QLabel(this);
    shown_->setObjectName("GraphShown");
    QFont bold = shown_->font();
    bold.setBold(true);
    shown_->setFont(bold);
    shown_->setToolTip(QStringLiteral("Редактор недельных графиков значений прибора"));
    ui_->SideLayout->insertWidget(0, shown_);
    QTableWidget* grid = ui_->GraphGrid;
    grid->setColumnCount(4);
    grid->setRowCount(kRows);
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    // Fixed-pitch, so that the weekday fields of all rows line up.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    grid->setFont(mono);
    grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(mono).height() + 4);
    // The header row and the number column are fixed: they are not selected.
    for (int r = 0; r < kRows; ++r)
        for (int col = 0; col < 4; ++col) {
            auto* item = new QTableWidgetItem;
            if (r == 0 || col == 0) {
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(palette().button());
            } else {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            }
            grid->setItem(r, col, item);
        }
    ShowItClick();
    const QFontMetrics fm(mono);
    grid->setColumnWidth(0, fm.horizontalAdvance("000") + 12);
    grid->setColumnWidth(kTimeCol, fm.horizontalAdvance("00:00") + 16);
    grid->setColumnWidth(kDaysCol, fm.horizontalAdvance(QString(21, QChar('W'))) + 16);
    grid->setColumnWidth(kValueCol, fm.horizontalAdvance("Значение") + 16);
    int width = 2 * grid->frameWidth();
    for (int col = 0; col < 4; ++col)
        width += grid->columnWidth(col);
    grid->setMinimumSize(
        width, kRows * grid->verticalHeader()->defaultSectionSize() + 2 * grid->frameWidth());
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setCurrentCell(1, 1);
    adjustSize();

    connect(grid, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int, int) { GraphGridSelectCell(row); });
    for (QSpinBox* spin : {ui_->RxSpinEditH, ui_->RxSpinEditM, ui_->RxSpinEditV})
        connect(spin, &QSpinBox::valueChanged, this, [this, spin] { RxSpinEditHChange(spin); });
    for (int i = 0; i < 7; ++i) {
        QCheckBox* box = Day(i);
        connect(box, &QCheckBox::toggled, this, [this, box] { RxSpinEditHChange(box); });
    }
    connect(ui_->AllDays, &QPushButton::clicked, this, [this] { AllDaysClick(); });
    connect(ui_->WorkDays, &QPushButton::clicked, this, [this] { WorkDaysClick(); });
    connect(ui_->CelDays, &QPushButton::clicked, this, [this] { CelDaysClick(); });
    connect(ui_->Apply, &QPushButton::clicked, this, [this] { ApplyClick(ui_->Apply); });
    connect(ui_->Del, &QPushButton::clicked, this, [this] { ApplyClick(ui_->Del); });
    connect(ui_->ShowIt, &QPushButton::clicked, this, [this] { ShowItClick(ui_->ShowIt); });
}

TValueGraph::~TValueGraph() = default;

void TValueGraph::SetGraph(int k) {
    if (k >= 0 && k < kScheduleGraphs) graph_ = k;
}

int TValueGraph::Circuit() const {
    return areas_.Shown();
}

void TValueGraph::ShowNonModal() {
    show();
    raise();
    activateWindow();
}

QTableWidget* TValueGraph::GraphGrid() const {
    return ui_->GraphGrid;
}
QSpinBox* TValueGraph::SpinH() const {
    return ui_->RxSpinEditH;
}
QSpinBox* TValueGraph::SpinM() const {
    return ui_->RxSpinEditM;
}
QSpinBox* TValueGraph::SpinV() const {
    return ui_->RxSpinEditV;
}
QCheckBox* TValueGraph::Day(int i) const {
    const std::array<QCheckBox*, 7> days = {ui_->W1, ui_->W2, ui_->W3, ui_->W4,
                                            ui_->W5, ui_->W6, ui_->W7};
    return days.at(static_cast<std::size_t>(i));
}
QObject* TValueGraph::ApplyButton() const {
    return ui_->Apply;
}
QObject* TValueGraph::DelButton() const {
    return ui_->Del;
}

void TValueGraph::ShowItClick(QObject*) {
    QTableWidget* grid = ui_->GraphGrid;
    grid->setRowCount(kRows);
    const char* headers[] = {"№", "Время", "Дни недели", "Значение"};
    for (int col = 0; col < 4; ++col)
        SetCell(grid, 0, col, QString::fromUtf8(headers[col]));
    ui_->RxSpinEditV->setRange(ScheduleValueMin(graph_), ScheduleValueMax(graph_));
    const int c = Circuit();
    static const char* const kGraphNames[] = {"график контура («Просмотр»)", "график 1,2",
                                              "график 3,4"};
    shown_->setText(QStringLiteral("Контур %1: %2")
                        .arg(c + 1)
                        .arg(graph_ >= 0 && graph_ < 3 ? QString::fromUtf8(kGraphNames[graph_])
                                                       : QString::number(graph_)));
    for (int s = 0; s < kScheduleEntries; ++s) {
        const int row = s + 1;
        SetCell(grid, row, 0, QString::number(row));
        const ScheduleCells cells =
            EntryCells(ReadScheduleEntry(areas_.DeviceImage(), c, graph_, s));
        SetCell(grid, row, kTimeCol, Qs(cells.time));
        SetCell(grid, row, kDaysCol, Qs(cells.days));
        SetCell(grid, row, kValueCol, Qs(cells.value));
    }
}

void TValueGraph::GraphGridSelectCell(int row) {
    if (row < 0 || row >= kRows) return;
    const QTableWidget* grid = ui_->GraphGrid;
    loading_ = true;
    const auto t = ParseTimeText(Cell(grid, row, kTimeCol).toStdString());
    ui_->RxSpinEditH->setValue(t ? t->hour : 0);
    ui_->RxSpinEditM->setValue(t ? t->minute : 0);
    const int days = DaysFromText(Cell(grid, row, kDaysCol).toStdString());
    for (int i = 0; i < 7; ++i)
        Day(i)->setChecked((days >> i) & 1);
    ui_->RxSpinEditV->setValue(
        ParseWholeNumber(Cell(grid, row, kValueCol).toStdString()).value_or(0));
    loading_ = false;
}

void TValueGraph::FormShow() {
    GraphGridSelectCell(1);
}

void TValueGraph::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

QString TValueGraph::DaysFromBoxes() const {
    int days = 0;
    for (int i = 0; i < 7; ++i)
        if (Day(i)->isChecked()) days |= 1 << i;
    return Qs(DaysText(days));
}

void TValueGraph::RxSpinEditHChange(QObject* sender) {
    if (loading_) return;
    // A spin field always holds a number: while its text is cleared during typing it keeps the
    // last value and signals no change, so an empty field never reaches the rows.
    QTableWidget* grid = ui_->GraphGrid;
    const QList<QTableWidgetSelectionRange> ranges = grid->selectedRanges();
    if (ranges.isEmpty()) return;
    int top = ranges.front().topRow();
    int bottom = ranges.front().bottomRow();
    for (const QTableWidgetSelectionRange& r : ranges) {
        top = std::min(top, r.topRow());
        bottom = std::max(bottom, r.bottomRow());
    }
    if (top <= 0 || bottom <= 0) return;
    const bool isSpin =
        sender == ui_->RxSpinEditH || sender == ui_->RxSpinEditM || sender == ui_->RxSpinEditV;
    const QString time = Qs(TimeText(ui_->RxSpinEditH->value(), ui_->RxSpinEditM->value()));
    const QString days = DaysFromBoxes();
    const QString value = QString::number(ui_->RxSpinEditV->value());
    for (int row = top; row <= bottom && row < kRows; ++row) {
        if ((isSpin && sender != ui_->RxSpinEditV) ||
            (!sender && !Cell(grid, row, kTimeCol).contains(':')))
            SetCell(grid, row, kTimeCol, time);
        if ((sender && !isSpin) || (!sender && !Cell(grid, row, kDaysCol).contains('.')))
            SetCell(grid, row, kDaysCol, days);
        if (sender == ui_->RxSpinEditV || (!sender && Cell(grid, row, kValueCol).isEmpty()))
            SetCell(grid, row, kValueCol, value);
    }
}

void TValueGraph::AllDaysClick() {
    const bool on = !ui_->W1->isChecked();
    for (int i = 0; i < 7; ++i)
        Day(i)->setChecked(on);
    RxSpinEditHChange(ui_->W1);
}

void TValueGraph::WorkDaysClick() {
    const bool on = !ui_->W1->isChecked();
    for (int i = 0; i < 5; ++i)
        Day(i)->setChecked(on);
    RxSpinEditHChange(ui_->W1);
}

void TValueGraph::CelDaysClick() {
    const bool on = !ui_->W6->isChecked();
    ui_->W6->setChecked(on);
    ui_->W7->setChecked(on);
    RxSpinEditHChange(ui_->W6);
}

void TValueGraph::ApplyClick(QObject* sender) {
    if (sender == ui_->Del)
        for (int i = 0; i < 7; ++i)
            Day(i)->setChecked(false);
    loading_ = false;
    RxSpinEditHChange(nullptr);
    WriteClick();
    ShowItClick();
}

void TValueGraph::WriteClick() {
    const QTableWidget* grid = ui_->GraphGrid;
    const int c = Circuit();
    for (int s = 0; s < kScheduleEntries; ++s) {
        const int row = s + 1;
        const std::uint32_t word = EntryFromCells(Cell(grid, row, kTimeCol).toStdString(),
                                                  Cell(grid, row, kDaysCol).toStdString(),
                                                  Cell(grid, row, kValueCol).toStdString());
        WriteScheduleEntry(areas_.DeviceImage(), c, graph_, s, word);
    }
}

}  // namespace vir05
