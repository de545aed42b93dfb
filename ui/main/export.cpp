#include "ui/main/export.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLocale>
#include <QPointer>
#include <QSaveFile>
#include <QUrl>
#include <algorithm>

#include "core/completion.h"

namespace vir05 {

SheetGrid GridFromModel(const QAbstractItemModel& model) {
    SheetGrid grid;
    const int columns = model.columnCount();
    const int rows = model.rowCount();
    grid.reserve(static_cast<std::size_t>(rows) + 1);
    std::vector<std::string> header;
    for (int c = 0; c < columns; ++c)
        header.push_back(
            model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
    grid.push_back(std::move(header));
    for (int r = 0; r < rows; ++r) {
        std::vector<std::string> row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c)
            row.push_back(model.data(model.index(r, c), Qt::DisplayRole).toString().toStdString());
        grid.push_back(std::move(row));
    }
    return grid;
}

std::optional<SheetSelection> SelectionOf(const QItemSelectionModel* selection) {
    if (!selection || !selection->hasSelection()) return std::nullopt;
    int top = -1;
    int bottom = -1;
    for (const QItemSelectionRange& range : selection->selection()) {
        top = top < 0 ? range.top() : std::min(top, range.top());
        bottom = std::max(bottom, range.bottom());
    }
    if (top < 0) return std::nullopt;
    return SheetSelection{top + 1, bottom + 1};
}

std::unique_ptr<QFileDialog> MakeSaveDialogTxt(QWidget* parent, const QString& directory) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    dialog->setObjectName("SaveDialogTxt");
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix("txt");
    dialog->setNameFilters({"Текстовые файлы (*.txt)", "Все (*)"});
    if (!directory.isEmpty()) dialog->setDirectory(directory);
    dialog->selectFile("toExcel");
    return dialog;
}

bool WriteFileWhole(const QString& path, const std::string& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const auto size = static_cast<qint64>(text.size());
    if (file.write(text.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

std::string SystemDecimalSeparator() {
    return QLocale::system().decimalPoint().toStdString();
}

ExportHooks ViewExportHooks(const QAbstractItemView* view) {
    ExportHooks h;
    // The view may go before the exporter; a vanished view exports an empty grid.
    QPointer<const QAbstractItemView> guarded(view);
    h.model = [guarded]() -> const QAbstractItemModel* {
        return guarded ? guarded->model() : nullptr;
    };
    h.selection = [guarded]() -> std::optional<SheetSelection> {
        return guarded ? SelectionOf(guarded->selectionModel()) : std::nullopt;
    };
    return h;
}

SpreadsheetExport::SpreadsheetExport(QWidget* parent, ExportHooks hooks,
                                     std::string decimalSeparator)
    : QObject(parent),
      parent_(parent),
      hooks_(std::move(hooks)),
      separator_(std::move(decimalSeparator)) {}

void SpreadsheetExport::Excel1Click(bool hourly) {
    QString name;
    if (hooks_.chooseFile) {
        name = hooks_.chooseFile();
    } else {
        auto dialog = MakeSaveDialogTxt(parent_, directory_);
        if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            name = dialog->selectedFiles().front();
    }
    if (name.isEmpty()) return;

    const QAbstractItemModel* model = hooks_.model ? hooks_.model() : nullptr;
    const SheetGrid grid = model ? GridFromModel(*model) : SheetGrid{};
    SheetOptions options;
    options.hourly = hourly;
    options.decimalSeparator = separator_;
    const std::string text =
        SpreadsheetText(grid, hooks_.selection ? hooks_.selection() : std::nullopt, options);

    auto caption = [this](const QString& t) {
        if (hooks_.setCaption) hooks_.setCaption(t);
    };
    const QString shown = QDir::toNativeSeparators(name);
    if (!WriteFileWhole(name, text)) {
        caption(QString::fromStdString(FileNotWrittenCaption(shown.toStdString())));
        return;
    }
    const QUrl url = QUrl::fromLocalFile(name);
    const bool opened = hooks_.openUrl ? hooks_.openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened) caption("Файл " + shown + " записан, но программа для его открытия не найдена");
}

}  // namespace vir05
