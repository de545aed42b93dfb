// The spreadsheet export from the window's side: the grid read from a model, the selected
// rows, SaveDialogTxt, the file written whole and opened, cancel and failures in the caption.
#include "ui/main/export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>

namespace vir05 {
namespace {

using ::testing::ElementsAre;

// Two values per record, as the archive grid shows them.
std::unique_ptr<QStandardItemModel> ArchiveModel(
    const std::vector<std::vector<const char*>>& rows) {
    auto model = std::make_unique<QStandardItemModel>(static_cast<int>(rows.size()), 4);
    model->setHorizontalHeaderLabels({"N", "Время Дата", "T11", "Klap"});
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (int c = 0; c < 4; ++c)
            model->setItem(r, c, new QStandardItem(QString::fromUtf8(rows[r][c])));
    return model;
}

const std::vector<std::vector<const char*>> kRows = {
    {"1", "10:00:00 05.03.24", "21.5", "40"},
    {"2", "10:10:00 05.03.24", "21.6", "41"},
    {"3", "10:20:00 05.03.24", "-5.4", "42"},
    {"4", "11:00:00 05.03.24", "20", "43"},
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

TEST(ExportGrid, ModelHeaderAndSelectionBecomeGridRows) {
    auto model = ArchiveModel(kRows);
    const SheetGrid grid = GridFromModel(*model);
    ASSERT_EQ(grid.size(), 5u);
    EXPECT_THAT(grid[0], ElementsAre("N", "Время Дата", "T11", "Klap"));
    EXPECT_THAT(grid[3], ElementsAre("3", "10:20:00 05.03.24", "-5.4", "42"));

    QItemSelectionModel selection(model.get());
    EXPECT_FALSE(SelectionOf(&selection).has_value());
    EXPECT_FALSE(SelectionOf(nullptr).has_value());
    // Model rows 1 and 3 in two pieces: grid rows 2 to 4 (the header is grid row 0).
    selection.select(model->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.select(model->index(1, 2), QItemSelectionModel::Select);
    const auto s = SelectionOf(&selection);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->top, 2);
    EXPECT_EQ(s->bottom, 4);
}

TEST(ExportGrid, HooksReadTheViewAtExportTime) {
    auto model = ArchiveModel(kRows);
    auto view = std::make_unique<QTableView>();
    const ExportHooks h = ViewExportHooks(view.get());
    view->setModel(model.get());  // set after the hooks: read when the export runs
    EXPECT_EQ(h.model(), model.get());
    EXPECT_FALSE(h.selection().has_value());
    view->selectionModel()->select(QItemSelection(model->index(0, 0), model->index(2, 3)),
                                   QItemSelectionModel::Select);
    const auto s = h.selection();
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->top, 1);
    EXPECT_EQ(s->bottom, 3);
    view.reset();  // the page went first
    EXPECT_EQ(h.model(), nullptr);
    EXPECT_FALSE(h.selection().has_value());
}

TEST(ExportGrid, SaveDialogTxt) {
    auto dialog = MakeSaveDialogTxt(nullptr, QString());
    EXPECT_EQ(dialog->objectName(), "SaveDialogTxt");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->defaultSuffix(), "txt");
    EXPECT_EQ(dialog->nameFilters(), QStringList({"Текстовые файлы (*.txt)", "Все (*)"}));
    ASSERT_FALSE(dialog->selectedFiles().isEmpty());
    // The initial name "toExcel" with the default suffix the dialog adds.
    EXPECT_TRUE(dialog->selectedFiles().front().endsWith("/toExcel.txt"))
        << dialog->selectedFiles().front().toStdString();
}

class ExportFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath("toExcel.txt");
        model_ = ArchiveModel(kRows);
    }
    SpreadsheetExport Make(const std::string& separator) {
        ExportHooks h;
        h.model = [this] { return model_.get(); };
        h.selection = [this] { return selection_; };
        h.chooseFile = [this] { return chosen_; };
        h.openUrl = [this](const QUrl& url) {
            opened_.push_back(url);
            return openResult_;
        };
        h.setCaption = [this](const QString& t) { captions_.push_back(t.toStdString()); };
        return SpreadsheetExport(nullptr, std::move(h), separator);
    }

    QTemporaryDir dir_;
    QString path_;
    QString chosen_;
    std::unique_ptr<QStandardItemModel> model_;
    std::optional<SheetSelection> selection_;
    std::vector<QUrl> opened_;
    bool openResult_ = true;
    std::vector<std::string> captions_;
};

TEST_F(ExportFixture, WritesTheFileAndOpensIt) {
    // An older, longer file is replaced whole.
    {
        QFile old(path_);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4000, 'x'));
    }
    chosen_ = path_;
    Make(",").Excel1Click(false);
    EXPECT_EQ(ReadAll(path_), QByteArray("N\tВремя Дата\tT11\tKlap\t\r\n"
                                         "1\t10:00:00 05.03.24\t21,5\t40\t\r\n"
                                         "2\t10:10:00 05.03.24\t21,6\t41\t\r\n"
                                         "3\t10:20:00 05.03.24\t-5,4\t42\t\r\n"
                                         "4\t11:00:00 05.03.24\t20\t43\t\r\n"));
    EXPECT_THAT(opened_, ElementsAre(QUrl::fromLocalFile(path_)));
    EXPECT_TRUE(captions_.empty());

    // The hourly export of three selected rows (model rows 1 to 3): the full hour among them.
    selection_ = SheetSelection{2, 4};
    Make(".").Excel1Click(true);
    EXPECT_EQ(ReadAll(path_), QByteArray("N\tВремя Дата\tT11\tKlap\t\r\n"
                                         "4\t11:00:00 05.03.24\t20\t43\t\r\n"));
}

TEST_F(ExportFixture, HourlyWithoutFullHourWritesTheHeaderOnly) {
    model_ = ArchiveModel(
        {{"1", "10:10:00 05.03.24", "21.5", "40"}, {"2", "10:20:00 05.03.24", "21.6", "41"}});
    chosen_ = path_;
    Make(".").Excel1Click(true);
    EXPECT_EQ(ReadAll(path_), QByteArray("N\tВремя Дата\tT11\tKlap\t\r\n"));
}

TEST_F(ExportFixture, CancelWritesNothing) {
    chosen_.clear();
    Make(".").Excel1Click(false);
    EXPECT_FALSE(QFile::exists(path_));
    EXPECT_TRUE(opened_.empty());
    EXPECT_TRUE(captions_.empty());
}

TEST_F(ExportFixture, FailuresAreReportedInTheCaption) {
    chosen_ = dir_.filePath("no/such/dir/toExcel.txt");
    Make(".").Excel1Click(false);
    EXPECT_TRUE(opened_.empty());  // nothing to open
    ASSERT_EQ(captions_.size(), 1u);
    EXPECT_EQ(captions_[0], "Ошибка: не удалось записать файл " + chosen_.toStdString());

    captions_.clear();
    chosen_ = path_;
    openResult_ = false;  // no application for text files
    Make(".").Excel1Click(false);
    EXPECT_TRUE(QFile::exists(path_));
    ASSERT_EQ(captions_.size(), 1u);
    EXPECT_EQ(captions_[0],
              "Файл " + path_.toStdString() + " записан, но программа для его открытия не найдена");
}

}  // namespace
}  // namespace vir05
