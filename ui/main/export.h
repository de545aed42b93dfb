// The spreadsheet export of the archive grid ("Экспорт в Excel..." and "Экспорт в Excel
// часовые..."): the file is chosen in SaveDialogTxt, written as tab-separated text and opened
// with the desktop's default application for it.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "core/spreadsheet.h"

class QAbstractItemModel;
class QAbstractItemView;
class QFileDialog;
class QItemSelectionModel;
class QUrl;
class QWidget;

namespace vir05 {

// The grid as the export reads it: row 0 the horizontal header labels, then the model's rows,
// each cell its display text.
SheetGrid GridFromModel(const QAbstractItemModel& model);

// The rows the user selected, in grid rows (the model's rows plus one for the header);
// nullopt without a selection.
std::optional<SheetSelection> SelectionOf(const QItemSelectionModel* selection);

// SaveDialogTxt: a save dialog with the default suffix "txt", the initial name "toExcel" and
// the filters "Текстовые файлы (*.txt)" and "Все (*)".
std::unique_ptr<QFileDialog> MakeSaveDialogTxt(QWidget* parent, const QString& directory);

// Writes `text` to `path` through a temporary file that replaces the old one only when it has
// been written whole. Returns false on any failure; the old file is then left as it was.
bool WriteFileWhole(const QString& path, const std::string& text);

struct ExportHooks {
    // The archive grid and the rows selected in it.
    std::function<const QAbstractItemModel*()> model;
    std::function<std::optional<SheetSelection>()> selection;
    // The file chosen; an empty text when the user cancelled. Empty: SaveDialogTxt.
    std::function<QString()> chooseFile;
    // Opens the file with the desktop's default application; false when nothing could be
    // started. Empty: QDesktopServices::openUrl.
    std::function<bool(const QUrl&)> openUrl;
    std::function<void(const QString&)> setCaption;
};

// Hooks that read the grid and its selection from `view` (StringGrid1) at the time of the
// export; the file choice, the opening and the caption stay to be set by the caller.
ExportHooks ViewExportHooks(const QAbstractItemView* view);

class SpreadsheetExport : public QObject {
    Q_OBJECT

  public:
    // `decimalSeparator` is the user's own, as it was at start-up (the program formats its
    // numbers with "." whatever the regional setting).
    SpreadsheetExport(QWidget* parent, ExportHooks hooks, std::string decimalSeparator);

    // `hourly` for "Экспорт в Excel часовые...": only the records on the full hour.
    void Excel1Click(bool hourly);

    void SetDirectory(const QString& directory) { directory_ = directory; }

  private:
    QWidget* parent_;
    ExportHooks hooks_;
    std::string separator_;
    QString directory_;
};

// The user's decimal separator from the system's regional settings.
std::string SystemDecimalSeparator();

}  // namespace vir05
