// The main window: frame, menu, panels, pages and the controls the presentation and the collect
// address by name.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <string>
#include <vector>

#include "core/present/present.h"
#include "ui/main/vir_cfg.h"

namespace vir05 {
namespace {

class WindowTest : public ::testing::Test {
  protected:
    template <typename T = QWidget>
    T* Find(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
    template <typename T = QWidget>
    T* Find(std::string_view name) {
        return window.findChild<T*>(QString::fromUtf8(name.data(), qsizetype(name.size())));
    }

    TFormCfg window;
};

TEST_F(WindowTest, FrameCaptionSizeAndPanels) {
    EXPECT_EQ(window.windowTitle(), QString("VIR05Win"));
    EXPECT_EQ(window.size(), QSize(968, 809));
    // Everything has to fit the frame's size: a larger minimum would stretch the window.
    EXPECT_LE(window.minimumSizeHint().width(), 968);
    EXPECT_LE(window.minimumSizeHint().height(), 809);

    ASSERT_NE(Find("Panel1"), nullptr);
    ASSERT_NE(Find("PanelRead"), nullptr);
    ASSERT_NE(Find("PanelProgress"), nullptr);
    EXPECT_EQ(Find("PanelRead")->parentWidget(), Find("Panel1"));
    EXPECT_EQ(Find("PanelProgress")->parentWidget(), Find("Panel1"));
    EXPECT_TRUE(window.ReadPanelVisible());
    EXPECT_FALSE(window.ProgressPanelVisible());

    window.SetReadPanelVisible(false);
    window.SetProgressPanelVisible(true);
    EXPECT_TRUE(Find("PanelRead")->isHidden());
    EXPECT_FALSE(Find("PanelProgress")->isHidden());

    const struct {
        const char* name;
        const char* hint;
    } buttons[] = {{"SpeedButton1", "Прочитать текущие"},
                   {"SpeedButton3", "Текущие в цикле"},
                   {"SpeedButton4", "Прочитать архив"},
                   {"SpeedButtonSave", "Записать конфигурацию"}};
    for (const auto& b : buttons) {
        auto* button = Find<QToolButton>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->toolTip(), QString(b.hint)) << b.name;
        EXPECT_FALSE(button->icon().isNull()) << b.name;
        EXPECT_EQ(button->parentWidget(), Find("PanelRead")) << b.name;
    }

    auto* bar = Find<QProgressBar>("ProgressBar");
    auto* errCount = Find<QLabel>("ErrCount");
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(errCount, nullptr);
    EXPECT_EQ(errCount->toolTip(), QString("Число повторов"));
    EXPECT_EQ(errCount->text(), QString("0"));
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    window.SetProgress(57);
    EXPECT_EQ(bar->value(), 57);
    window.SetProgress(250);  // a damaged progress cell stays inside the bar
    EXPECT_EQ(bar->value(), 100);
    window.SetRetryCount(12);
    EXPECT_EQ(errCount->text(), QString("12"));
    ASSERT_NE(Find("StopButton"), nullptr);
    EXPECT_EQ(Find("StopButton")->parentWidget(), Find("PanelProgress"));

    window.SetCaption("Чтение (COM1, Адр:1)");
    EXPECT_EQ(window.windowTitle(), QString("Чтение (COM1, Адр:1)"));

    auto* s0 = Find<QRadioButton>("RadioButtonS0");
    auto* s1 = Find<QRadioButton>("RadioButtonS1");
    ASSERT_NE(s0, nullptr);
    ASSERT_NE(s1, nullptr);
    EXPECT_EQ(s0->text(), QString("1"));
    EXPECT_EQ(s1->text(), QString("2"));
    EXPECT_TRUE(s0->isChecked());
    EXPECT_EQ(window.Circuit(), 0);
    ASSERT_NE(Find<QLabel>("LabelCircuit"), nullptr);
    EXPECT_EQ(Find<QLabel>("LabelCircuit")->text(), QString("Контур:"));
}

// The progress panel says what its two numbers are: a label before the bar and before the
// retry counter.
TEST_F(WindowTest, ProgressAndRetriesAreLabelled) {
    auto* row = qobject_cast<QHBoxLayout*>(Find("PanelProgress")->layout());
    ASSERT_NE(row, nullptr);
    auto labelBefore = [row](QWidget* w) {
        const int at = row->indexOf(w);
        QLayoutItem* item = at > 0 ? row->itemAt(at - 1) : nullptr;
        auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr;
        return label ? label->text() : QString();
    };
    EXPECT_EQ(labelBefore(Find("ProgressBar")), QString("Выполнено:"));
    EXPECT_EQ(labelBefore(Find("ErrCount")), QString("Повторов:"));
}

TEST_F(WindowTest, MenuOrderAndTexts) {
    QMenuBar* bar = window.menuBar();
    ASSERT_NE(bar, nullptr);
    const QList<QAction*> top = bar->actions();
    const QStringList topTexts = {"Файлы", "Команды", "Подключение", "Версия", "Справка"};
    ASSERT_EQ(top.size(), topTexts.size());
    // The texts as shown; "&" marks the mnemonic, and every menu has one.
    auto shown = [](QString text) { return text.remove('&'); };
    for (int i = 0; i < top.size(); ++i) {
        EXPECT_EQ(shown(top[i]->text()), topTexts[i]) << i;
        EXPECT_TRUE(top[i]->text().contains('&')) << i;
    }
    EXPECT_EQ(top[2]->objectName(), QString("N2"));
    EXPECT_EQ(top[3]->objectName(), QString("AboutMnu"));
    EXPECT_EQ(top[4]->objectName(), QString("Help"));

    struct Item {
        const char* name;
        const char* text;
    };
    const std::vector<std::vector<Item>> menus = {
        {{"Open", "Открыть..."},
         {"Save", "Сохранить..."},
         {"Excel1", "Экспорт в Excel..."},
         {"Excel2", "Экспорт в Excel часовые..."},
         {"Exit", "Выход"}},
        {{"ReadTek", "Прочитать текущие"},
         {"ReadCycle", "Текущие в цикле"},
         {"ReadArch", "Прочитать архив"},
         {"WriteCfg", "Записать конфигурацию"},
         {"ReWriteCfg", "Перезаписать конфигурацию"}},
    };
    for (std::size_t m = 0; m < menus.size(); ++m) {
        QMenu* menu = top[int(m)]->menu();
        ASSERT_NE(menu, nullptr) << m;
        std::vector<QAction*> items;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) items.push_back(a);
        ASSERT_EQ(items.size(), menus[m].size()) << m;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i]->objectName(), QString(menus[m][i].name));
            EXPECT_EQ(shown(items[i]->text()), QString(menus[m][i].text));
            EXPECT_TRUE(items[i]->text().contains('&')) << menus[m][i].name;
        }
        // No two items of a menu share a mnemonic.
        QSet<QChar> keys;
        for (QAction* a : items)
            keys.insert(a->text().at(a->text().indexOf('&') + 1).toLower());
        EXPECT_EQ(keys.size(), qsizetype(items.size())) << m;
    }
}

TEST_F(WindowTest, KeysForTheFrequentCommands) {
    const struct {
        const char* name;
        QKeySequence key;
    } keys[] = {{"ReadTek", QKeySequence(Qt::Key_F5)},
                {"ReadArch", QKeySequence(Qt::Key_F6)},
                {"Open", QKeySequence(QKeySequence::Open)},
                {"Save", QKeySequence(QKeySequence::Save)},
                {"Exit", QKeySequence(Qt::CTRL | Qt::Key_Q)}};
    for (const auto& k : keys) {
        auto* action = Find<QAction>(k.name);
        ASSERT_NE(action, nullptr) << k.name;
        EXPECT_EQ(action->shortcut(), k.key) << k.name;
    }
    // Stop and print are buttons; their keys are window actions that press them.
    QSet<QKeySequence> windowKeys;
    for (QAction* a : window.actions())
        windowKeys.insert(a->shortcut());
    EXPECT_TRUE(windowKeys.contains(QKeySequence(Qt::Key_Escape)));
    EXPECT_TRUE(windowKeys.contains(QKeySequence(QKeySequence::Print)));

    // "Выход" closes the window (and with it the program).
    window.show();
    ASSERT_TRUE(window.isVisible());
    Find<QAction>("Exit")->trigger();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(WindowTest, PagesInOrderWithTheirCaptions) {
    QTabWidget* tabs = window.PageControl();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->objectName(), QString("PageControl1"));
    EXPECT_EQ(window.Pages(), tabs);
    const struct {
        const char* name;
        const char* caption;
    } pages[] = {{"TabSheet14", "Текущие"},
                 {"TabSheet6", "Архив"},
                 {"TabSheetEvents", "Архив событий"},
                 {"TabSheet9", "График"},
                 {"TabSheetServ", "Сервисные настройки"},
                 {"TabSheet1", "Настройки контуров"},
                 {"TabSheet12", "Насосы"},
                 {"TabSheet7", "Ручное управление"},
                 {"TabSheet11", "Сигнализирование"},
                 {"TabSheetEmu", "Эмуляция системы"}};
    ASSERT_EQ(tabs->count(), int(std::size(pages)));
    for (int i = 0; i < tabs->count(); ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), QString(pages[i].name)) << i;
        EXPECT_EQ(tabs->tabText(i), QString(pages[i].caption)) << i;
    }
    EXPECT_EQ(tabs->currentIndex(), 0);

    auto* inner = Find<QTabWidget>("PageControl2");
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(Find("TabSheet1")->isAncestorOf(inner));
    const QStringList innerCaptions = {"Основной", "Дополнительный",
                                       "Ограничение обратки (возврат)", "Аварийные режимы"};
    ASSERT_EQ(inner->count(), innerCaptions.size());
    for (int i = 0; i < inner->count(); ++i)
        EXPECT_EQ(inner->tabText(i), innerCaptions[i]);
}

TEST_F(WindowTest, ServicePagesHideAndShowInPlace) {
    QTabWidget* tabs = window.PageControl();
    const QSet<QString> service = {"TabSheetEvents", "TabSheetServ", "TabSheetEmu"};
    for (bool visible : {false, true, false}) {
        window.SetServicePagesVisible(visible);
        ASSERT_EQ(tabs->count(), 10);
        for (int i = 0; i < tabs->count(); ++i) {
            const QString name = tabs->widget(i)->objectName();
            EXPECT_EQ(tabs->isTabVisible(i), service.contains(name) ? visible : true)
                << name.toStdString() << " visible=" << visible;
        }
    }
}

TEST_F(WindowTest, WriteControlsFollowTheWriteSwitch) {
    QAction* write = Find<QAction>("WriteCfg");
    QAction* rewrite = Find<QAction>("ReWriteCfg");
    auto* save = Find<QToolButton>("SpeedButtonSave");
    QAction* read = Find<QAction>("ReadTek");
    for (bool enabled : {false, true}) {
        window.SetWriteEnabled(enabled);
        EXPECT_EQ(write->isEnabled(), enabled);
        EXPECT_EQ(rewrite->isEnabled(), enabled);
        EXPECT_EQ(save->isEnabled(), enabled);
        EXPECT_TRUE(read->isEnabled());
    }
}

// The write and the full rewrite open apart: a data file can be restored whole before the
// controller was read, a changed-values write cannot.
TEST_F(WindowTest, WriteAndRewriteOpenApart) {
    QAction* write = Find<QAction>("WriteCfg");
    QAction* rewrite = Find<QAction>("ReWriteCfg");
    auto* save = Find<QToolButton>("SpeedButtonSave");
    window.SetWriteEnabled(false, true);
    EXPECT_FALSE(write->isEnabled());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(rewrite->isEnabled());
    window.SetWriteEnabled(true, false);
    EXPECT_TRUE(write->isEnabled());
    EXPECT_TRUE(save->isEnabled());
    EXPECT_FALSE(rewrite->isEnabled());
}

// Captions of groups and labels, exactly as the system writes them (double blank included).
TEST_F(WindowTest, GroupAndLabelTextsAsWritten) {
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"GroupBoxPomp12", "Режим работы  Ц-насосов (1, 2)"},
        {"GroupBoxPomp3", "Режим работы насоса3 и клапана подпитки"},
        {"LGraphTypeK1", "График отклонения от задания"},
        {"LAntiMudPomps", "покручены - всего"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget* w = Find(c.name);
        ASSERT_NE(w, nullptr);
        QString text;
        if (auto* group = qobject_cast<QGroupBox*>(w)) text = group->title();
        if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
        EXPECT_EQ(text.toStdString(), c.text);
    }
}

// Every menu item and tool button reaches exactly its own signal, with the right argument.
TEST_F(WindowTest, UserActionsEmitTheirSignals) {
    QSignalSpy open(&window, &TFormCfg::OpenClick);
    QSignalSpy save(&window, &TFormCfg::SaveClick);
    QSignalSpy excel(&window, &TFormCfg::Excel1Click);
    QSignalSpy tek(&window, &TFormCfg::ReadTekClick);
    QSignalSpy cycle(&window, &TFormCfg::ReadCycleClick);
    QSignalSpy arch(&window, &TFormCfg::ReadArchClick);
    QSignalSpy write(&window, &TFormCfg::WriteCfgClick);
    QSignalSpy connectDlg(&window, &TFormCfg::N2Click);
    QSignalSpy about(&window, &TFormCfg::AboutMnuClick);
    QSignalSpy help(&window, &TFormCfg::HelpClick);
    QSignalSpy stop(&window, &TFormCfg::StopButtonClick);
    QSignalSpy* all[] = {&open,  &save,       &excel, &tek,  &cycle, &arch,
                         &write, &connectDlg, &about, &help, &stop};

    const struct {
        const char* source;
        QSignalSpy* spy;
        int argument;  // -1: no argument, else the bool it carries
    } cases[] = {
        {"Open", &open, -1},         {"Save", &save, -1},          {"Excel1", &excel, 0},
        {"Excel2", &excel, 1},       {"ReadTek", &tek, -1},        {"SpeedButton1", &tek, -1},
        {"ReadCycle", &cycle, -1},   {"SpeedButton3", &cycle, -1}, {"ReadArch", &arch, -1},
        {"SpeedButton4", &arch, -1}, {"WriteCfg", &write, 0},      {"SpeedButtonSave", &write, 0},
        {"ReWriteCfg", &write, 1},   {"N2", &connectDlg, -1},      {"AboutMnu", &about, -1},
        {"Help", &help, -1},         {"StopButton", &stop, -1},
    };
    for (const auto& c : cases) {
        for (QSignalSpy* spy : all)
            spy->clear();
        if (auto* action = Find<QAction>(c.source)) {
            action->trigger();
        } else if (auto* button = Find<QAbstractButton>(c.source)) {
            button->click();
        } else {
            ADD_FAILURE() << "no control " << c.source;
            continue;
        }
        for (QSignalSpy* spy : all) {
            EXPECT_EQ(spy->count(), spy == c.spy ? 1 : 0)
                << c.source << " " << spy->signal().constData();
        }
        if (c.argument >= 0 && c.spy->count() == 1) {
            EXPECT_EQ(c.spy->at(0).at(0).toBool(), c.argument == 1) << c.source;
        }
    }
}

TEST_F(WindowTest, RetryCounterClickSkipsTheWait) {
    window.SetProgressPanelVisible(true);
    window.show();
    QSignalSpy spy(&window, &TFormCfg::ErrCountClick);
    auto* label = Find<QLabel>("ErrCount");
    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
    QTest::mouseClick(label, Qt::RightButton);
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(WindowTest, CircuitSwitchSignalsOnlyUserChanges) {
    window.show();
    QSignalSpy first(&window, &TFormCfg::RadioButtonS0Click);
    QSignalSpy second(&window, &TFormCfg::RadioButtonS1Click);
    auto* s0 = Find<QRadioButton>("RadioButtonS0");
    auto* s1 = Find<QRadioButton>("RadioButtonS1");

    QTest::mouseClick(s1, Qt::LeftButton);
    EXPECT_EQ(second.count(), 1);
    EXPECT_EQ(first.count(), 0);
    EXPECT_EQ(window.Circuit(), 1);

    QTest::mouseClick(s0, Qt::LeftButton);
    EXPECT_EQ(first.count(), 1);
    EXPECT_EQ(window.Circuit(), 0);

    // The program choosing the circuit (after opening a file, say) is no user click.
    window.SetCircuit(1);
    EXPECT_EQ(window.Circuit(), 1);
    EXPECT_TRUE(s1->isChecked());
    EXPECT_FALSE(s0->isChecked());
    window.SetCircuit(0);
    EXPECT_EQ(first.count(), 1);
    EXPECT_EQ(second.count(), 1);
}

TEST_F(WindowTest, NumericFieldsMatchTheirTable) {
    ASSERT_FALSE(kSpinSpecs.empty());
    for (const SpinSpec& spec : kSpinSpecs) {
        const std::string name(spec.name);
        QWidget* w = Find(spec.name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_TRUE(window.Pages()->isAncestorOf(w)) << name;
        if (spec.kind == SpinKind::Whole) {
            auto* box = qobject_cast<QSpinBox*>(w);
            ASSERT_NE(box, nullptr) << name << " is not a whole-number spin box";
            EXPECT_EQ(box->minimum(), spec.minimum) << name;
            EXPECT_EQ(box->maximum(), spec.maximum) << name;
        } else {
            auto* box = qobject_cast<QDoubleSpinBox*>(w);
            ASSERT_NE(box, nullptr) << name << " is not a decimal spin box";
            EXPECT_EQ(box->decimals(), spec.decimals) << name;
            EXPECT_DOUBLE_EQ(box->minimum(), spec.minimum) << name;
            EXPECT_DOUBLE_EQ(box->maximum(), spec.maximum) << name;
        }
    }
}

TEST_F(WindowTest, ListsMatchTheirTable) {
    ASSERT_FALSE(kListSpecs.empty());
    for (const ListSpec& spec : kListSpecs) {
        const std::string name(spec.name);
        auto* box = Find<QComboBox>(spec.name);
        ASSERT_NE(box, nullptr) << name;
        EXPECT_TRUE(window.Pages()->isAncestorOf(box)) << name;
        EXPECT_EQ(box->isEditable(), spec.editable) << name;
        if (spec.kind != ListKind::Fixed) continue;
        ASSERT_EQ(box->count(), int(spec.items.size())) << name;
        for (int i = 0; i < box->count(); ++i)
            EXPECT_EQ(box->itemText(i).toStdString(), spec.items[std::size_t(i)])
                << name << " item " << i;
    }
}

// A long item must not be cut: the scheme list is as wide as its longest item.
TEST_F(WindowTest, SchemeListShowsItsLongestItem) {
    window.show();
    window.PageControl()->setCurrentWidget(Find("TabSheet1"));
    QCoreApplication::processEvents();
    auto* box = Find<QComboBox>("kod_scheme");
    ASSERT_NE(box, nullptr);
    int widest = 0;
    for (int i = 0; i < box->count(); ++i)
        widest = std::max(widest, box->fontMetrics().horizontalAdvance(box->itemText(i)));
    EXPECT_GE(box->width(), widest);
}

// The collect reads each bound field by its control's name; the radio fields by their buttons.
TEST_F(WindowTest, EveryCollectedControlExists) {
    for (const FieldBinding& b : kFieldBindings) {
        if (b.conversion == Conversion::Radio) {
            for (const RadioCode& r : b.radios)
                EXPECT_NE(Find<QRadioButton>(r.button), nullptr) << std::string(r.button);
            continue;
        }
        EXPECT_NE(Find(b.control), nullptr) << std::string(b.control);
    }
}

// The buttons of one manual-control field exclude each other and nothing else: choosing a
// valve button must not change a pump's choice.
TEST_F(WindowTest, RadioButtonsAreGroupedPerField) {
    std::vector<const FieldBinding*> radioFields;
    for (const FieldBinding& b : kFieldBindings)
        if (b.conversion == Conversion::Radio) radioFields.push_back(&b);
    ASSERT_EQ(radioFields.size(), 5u);
    for (const FieldBinding* field : radioFields) {
        for (const RadioCode& chosen : field->radios) {
            // Put every other field on its first button, then choose `chosen`.
            for (const FieldBinding* other : radioFields)
                if (other != field) Find<QRadioButton>(other->radios[0].button)->setChecked(true);
            Find<QRadioButton>(chosen.button)->setChecked(true);
            for (const RadioCode& r : field->radios)
                EXPECT_EQ(Find<QRadioButton>(r.button)->isChecked(), r.button == chosen.button)
                    << std::string(r.button);
            for (const FieldBinding* other : radioFields) {
                if (other == field) continue;
                EXPECT_TRUE(Find<QRadioButton>(other->radios[0].button)->isChecked())
                    << std::string(chosen.button) << " changed " << std::string(other->control);
            }
        }
    }
}

// The binder finds controls by name below the page control, so a name must be there once.
TEST_F(WindowTest, ControlNamesAreUnique) {
    QSet<QString> seen;
    for (QWidget* w : window.Pages()->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        // Tab bars name their own scroll buttons.
        if (name.isEmpty() || name.startsWith("qt_") || qobject_cast<QTabBar*>(w->parent()))
            continue;
        EXPECT_FALSE(seen.contains(name)) << name.toStdString() << " appears twice";
        seen.insert(name);
    }
}

// The later pages carry their controls with the captions and hints the chart's series and the
// service actions rely on.
TEST_F(WindowTest, ChartPageCheckBoxesAndServiceActions) {
    const struct {
        const char* name;
        const char* caption;
        const char* hint;
    } boxes[] = {{"CheckBox1", "T11(Т3)", "T11"},  {"CheckBox2", "T2", "T2"},
                 {"CheckBox3", "Tк", "Tк"},        {"CheckBox4", "Tн (T1)", "Tн"},
                 {"CheckBox5", "T21", "T21"},      {"CheckBox6", "G", "G"},
                 {"CheckBox7", "Т Задания", "TЗ"}, {"CheckBox8", "Т Реальное", "TР"},
                 {"CheckBox9", "Klap", "Klap"}};
    QWidget* panel = Find("MakeTxtOut");
    ASSERT_NE(panel, nullptr);
    for (const auto& b : boxes) {
        auto* box = Find<QCheckBox>(b.name);
        ASSERT_NE(box, nullptr) << b.name;
        EXPECT_EQ(box->parentWidget(), panel) << b.name;
        EXPECT_EQ(box->text(), QString(b.caption)) << b.name;
        EXPECT_EQ(box->toolTip(), QString(b.hint)) << b.name;
        EXPECT_TRUE(box->isChecked()) << b.name;
        EXPECT_EQ(box->isHidden(), std::string(b.name) == "CheckBox6") << b.name;
    }
    // The hints hold a Latin T and a Cyrillic letter: the series titles compare exactly.
    EXPECT_EQ(Find<QCheckBox>("CheckBox7")->toolTip().at(0), QChar('T'));
    ASSERT_NE(Find<QAbstractButton>("Button2"), nullptr);
    EXPECT_EQ(Find<QAbstractButton>("Button2")->text(), QString("Печать"));
    EXPECT_TRUE(Find("TabSheet9")->isAncestorOf(Find("DBChart2")));
    EXPECT_TRUE(Find("TabSheetEmu")->isAncestorOf(Find("DBChart1")));
    EXPECT_TRUE(Find("TabSheet6")->isAncestorOf(Find("StringGrid1")));
    EXPECT_TRUE(Find("TabSheetEvents")->isAncestorOf(Find("StringGridE")));

    const struct {
        const char* name;
        const char* caption;
    } actions[] = {{"Klb_KZ", "Калибровка К.З."},   {"Klb_100", "Калибровка 500 (100)"},
                   {"ClrStat", "Стирание архивов"}, {"SetTime", "Уст. времени (системное)"},
                   {"Reset", "Перезагрузка"},       {"NextSerial", "500002"}};
    for (const auto& a : actions) {
        auto* button = Find<QAbstractButton>(a.name);
        ASSERT_NE(button, nullptr) << a.name;
        EXPECT_TRUE(Find("TabSheetServ")->isAncestorOf(button)) << a.name;
        EXPECT_EQ(button->text(), QString(a.caption)) << a.name;
    }
    // Kept on the form for the analogue-input exchange, never shown.
    for (const char* name : {"WriteAD", "ResetAD", "AD_in0", "AD_out3", "ADelta", "AD_line"}) {
        QWidget* w = Find(name);
        ASSERT_NE(w, nullptr) << name;
        window.show();
        window.PageControl()->setCurrentWidget(Find("TabSheetServ"));
        EXPECT_FALSE(w->isVisible()) << name;
    }
}

TEST_F(WindowTest, EmulationFieldsStartAtTheirInitialValues) {
    const struct {
        const char* name;
        double minimum, maximum, initial;
        int decimals;  // -1 for a whole-number field
    } fields[] = {{"KSys", 0.01, 20, 2, 2},     {"TauSys", 1, 1000, 30, -1},
                  {"DelaySys", 3, 99, 5, -1},   {"Diviation", 0.01, 20, 0.01, 2},
                  {"AddTEmu", 0, 1, 0.02, 3},   {"DeltaInterval", 1, 40, 1, -1},
                  {"DeltaTEmu", -30, 40, 0, 2}, {"KlapSys", 0, 100, 0, 2},
                  {"TSys", 0, 200, 0, 2},       {"FinalT", 0, 1000, 0, 2}};
    for (const auto& f : fields) {
        QWidget* w = Find(f.name);
        ASSERT_NE(w, nullptr) << f.name;
        if (f.decimals < 0) {
            auto* box = qobject_cast<QSpinBox*>(w);
            ASSERT_NE(box, nullptr) << f.name;
            EXPECT_EQ(box->minimum(), f.minimum) << f.name;
            EXPECT_EQ(box->maximum(), f.maximum) << f.name;
            EXPECT_EQ(box->value(), f.initial) << f.name;
        } else {
            auto* box = qobject_cast<QDoubleSpinBox*>(w);
            ASSERT_NE(box, nullptr) << f.name;
            EXPECT_EQ(box->decimals(), f.decimals) << f.name;
            EXPECT_DOUBLE_EQ(box->minimum(), f.minimum) << f.name;
            EXPECT_DOUBLE_EQ(box->maximum(), f.maximum) << f.name;
            EXPECT_DOUBLE_EQ(box->value(), f.initial) << f.name;
        }
    }
    for (const char* name : {"HandKp", "KlChgManual", "Emulatuon"}) {
        auto* box = Find<QCheckBox>(name);
        ASSERT_NE(box, nullptr) << name;
        EXPECT_FALSE(box->isChecked()) << name;
    }
}

}  // namespace
}  // namespace vir05
