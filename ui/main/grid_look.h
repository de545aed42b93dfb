// How the archive and event grids read: numbers right-aligned on their decimal points, the
// record number and time kept in view when scrolling right, columns without data out of the
// way, every column named, and the event log sortable by any column.
//
// None of this changes a cell's text: the spreadsheet export and everyone else reading the
// models see the same cells as before.
#pragma once

#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>

class QTableView;

namespace vir05 {

// Paints numbers right-aligned with their decimal points one above the other ("21.5" and "-7"
// end at the same decimal place); any other text as usual.
class DecimalDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// Keeps the first `columns` columns of `view` in place while the rest scrolls sideways: a second
// view over the same model and selection, laid over the first. Returns the second view.
QTableView* FreezeLeadingColumns(QTableView* view, int columns);

// Hides the columns from `first` on whose every cell is empty (and shows them again once they
// hold something); a column title alone does not count.
void HideEmptyColumns(QTableView* view, int first);

// The event log in the order the user clicks: time order at first, numbers by value, times by
// time; "N" gives the order of the controller's slots. Columns without a title get one.
class EventSortModel : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // A time "dd.MM.yyyy h:mm:ss" (or a date alone) as a number that sorts; -1 for other text.
    static qint64 TimeKey(const QString& text);

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

}  // namespace vir05
