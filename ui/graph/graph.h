// The value graph editor: one weekly graph of the selected circuit as a 32-row table, with
// controls that set time, weekdays and value of all selected rows at once.
//
// The editor works on the schedule area of the device image only: "Применить" and "Удалить"
// store the whole table into it, and the next configuration write sends the changed bytes.
// Every redisplay rebuilds the table from the image, so edits not applied are dropped.
//
// Handlers are named after control and event. Other code calls them with no sender to reuse
// their logic.
#pragma once

#include <QWidget>
#include <memory>

#include "model/memory.h"

class QCheckBox;
class QShowEvent;
class QSpinBox;
class QTableWidget;

namespace Ui {
class TValueGraph;
}

class QLabel;

namespace vir05 {

class TValueGraph : public QWidget {
    Q_OBJECT

  public:
    // A top-level window, hidden, showing graph 0; reads and writes `areas`' device image and
    // follows its SelectedCircuit.
    explicit TValueGraph(MemoryAreas& areas, QWidget* parent = nullptr);
    ~TValueGraph() override;

    // The graph shown by the next redisplay: 0 set-point deviation, 1 pumps 1 and 2, 2 pump 3
    // and the make-up valve. Other numbers are ignored.
    void SetGraph(int k);
    int Graph() const { return graph_; }
    // The circuit the table shows and stores into: SelectedCircuit, 0 unless it is 1.
    int Circuit() const;

    // Shows the editor without blocking and brings it to the front.
    void ShowNonModal();

    // Redisplays the current graph of the current circuit from the device image.
    void ShowItClick(QObject* sender = nullptr);
    // Loads the time, weekday and value controls from a table row.
    void GraphGridSelectCell(int row);
    // Loads the controls from row 1; runs each time the editor becomes visible.
    void FormShow();
    // Rewrites the part of every selected row that `sender` (a spin field or a day box) stands
    // for; with no sender, fills only the parts of the rows that are still empty.
    void RxSpinEditHChange(QObject* sender = nullptr);
    void AllDaysClick();
    void WorkDaysClick();
    void CelDaysClick();
    // "Применить" and "Удалить" (which first clears every day box): completes the selected rows
    // from the controls, stores the table and redisplays it.
    void ApplyClick(QObject* sender = nullptr);
    // Stores rows 1 to 32 into the 32 slots of the current graph.
    void WriteClick();

    QTableWidget* GraphGrid() const;
    QSpinBox* SpinH() const;
    QSpinBox* SpinM() const;
    QSpinBox* SpinV() const;
    QCheckBox* Day(int i) const;  // 0 Monday ... 6 Sunday
    QObject* ApplyButton() const;
    QObject* DelButton() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QString DaysFromBoxes() const;

    std::unique_ptr<Ui::TValueGraph> ui_;
    MemoryAreas& areas_;
    int graph_ = 0;
    QLabel* shown_ = nullptr;  // which graph of which circuit is shown
    bool loading_ = false;     // set while the controls are loaded from a row
};

}  // namespace vir05
