// The binder between ControlState and the window's widgets: a presented image goes into the
// widgets and reads back unchanged, and the edges (values the widgets cannot hold, unknown
// names, lists whose items change) behave as the binder promises.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/present/present.h"
#include "model/memory.h"
#include "sim/generator.h"
#include "ui/main/binder.h"
#include "ui/main/vir_cfg.h"

namespace vir05 {
namespace {

QWidget* Widget(QWidget* root, const std::string& name) {
    return root->findChild<QWidget*>(QString::fromStdString(name));
}

// Compares what was applied with what was read, member by member for the widget's type.
void ExpectReadsBack(QWidget* root, const ControlState& applied, const ControlState& read) {
    for (const auto& [name, in] : applied) {
        SCOPED_TRACE(name);
        auto it = read.find(name);
        ASSERT_NE(it, read.end()) << "not read back";
        const ControlValue& out = it->second;
        QWidget* w = Widget(root, name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(out.visible, in.visible);
        if (qobject_cast<QSpinBox*>(w) || qobject_cast<QDoubleSpinBox*>(w)) {
            EXPECT_NEAR(out.number, in.number, 1e-9 * std::max(1.0, std::fabs(in.number)));
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            EXPECT_EQ(out.index, in.index);
            if (combo->isEditable()) {
                EXPECT_EQ(out.text, in.text);
            } else if (in.index >= 0) {
                EXPECT_EQ(out.text, combo->itemText(in.index).toStdString());
            }
            if (!in.items.empty()) {
                ASSERT_EQ(combo->count(), int(in.items.size()));
                for (int i = 0; i < combo->count(); ++i)
                    EXPECT_EQ(combo->itemText(i).toStdString(), in.items[std::size_t(i)]);
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(w);
                   button && button->isCheckable()) {
            EXPECT_EQ(out.checked, in.checked);
        } else {
            EXPECT_EQ(out.text, in.text);
        }
    }
}

std::vector<std::string> Names(const ControlState& state) {
    std::vector<std::string> names;
    for (const auto& [name, value] : state)
        names.push_back(name);
    return names;
}

struct ImageCase {
    std::uint32_t seed;
    int circuits;
    int selected;
};

class PresentedImage : public ::testing::TestWithParam<ImageCase> {
  protected:
    void SetUp() override {
        const ImageCase c = GetParam();
        sim::GeneratorOptions options;
        options.seed = c.seed;
        options.circuits = c.circuits;
        sim::GenerateContents(options, areas->DeviceImage(), areas->ArchiveImage());
        areas->SelectedCircuit = c.selected;
        PresentImage(*areas, presentation, state);
    }

    std::unique_ptr<MemoryAreas> areas = std::make_unique<MemoryAreas>();
    PresentationState presentation;
    ControlState state;
    TFormCfg window;
};

// Every control the presentation sets is on the form, of a type the binder can fill, and the
// numeric ones are the spin boxes of their table.
TEST_P(PresentedImage, EveryPresentedControlExists) {
    ASSERT_GT(state.size(), 100u);
    EXPECT_EQ(ApplyControlState(window.Pages(), state), std::vector<std::string>{});
    const ControlState all = ReadControlState(window.Pages());
    for (const auto& [name, value] : state) {
        EXPECT_TRUE(all.contains(name)) << name << " is no control the binder fills";
        QWidget* w = Widget(window.Pages(), name);
        if (w == nullptr) continue;
        if (FindSpinSpec(name)) {
            EXPECT_TRUE(qobject_cast<QSpinBox*>(w) || qobject_cast<QDoubleSpinBox*>(w)) << name;
        }
        if (!value.items.empty() || FindListSpec(name)) {
            EXPECT_NE(qobject_cast<QComboBox*>(w), nullptr) << name;
        }
    }
}

TEST_P(PresentedImage, AppliedStateReadsBack) {
    ApplyControlState(window.Pages(), state);
    ExpectReadsBack(window.Pages(), state, ReadControlState(window.Pages(), Names(state)));
}

// The collect takes what the user left in the controls: an edit between presentation and read
// is what comes back, and a second presentation replaces it again.
TEST_P(PresentedImage, EditsReadBackAndTheNextPassReplacesThem) {
    ApplyControlState(window.Pages(), state);
    auto* tconst = window.Pages()->findChild<QSpinBox*>("TConst");
    auto* scheme = window.Pages()->findChild<QComboBox*>("kod_scheme");
    auto* address = window.Pages()->findChild<QComboBox*>("CB_Addr");
    ASSERT_TRUE(tconst && scheme && address);
    tconst->setValue(77);
    scheme->setCurrentIndex(5);
    address->setEditText("300");
    ControlState edited = ReadControlState(window.Pages(), {"TConst", "kod_scheme", "CB_Addr"});
    EXPECT_EQ(edited["TConst"].number, 77);
    EXPECT_EQ(edited["kod_scheme"].index, 5);
    EXPECT_EQ(edited["CB_Addr"].text, "300");

    ApplyControlState(window.Pages(), state);
    ExpectReadsBack(window.Pages(), state, ReadControlState(window.Pages(), Names(state)));
}

INSTANTIATE_TEST_SUITE_P(Seeds, PresentedImage,
                         ::testing::Values(ImageCase{1, 2, 0}, ImageCase{1, 2, 1},
                                           ImageCase{7, 1, 0}, ImageCase{4242, 2, 1}),
                         [](const auto& info) {
                             return "seed" + std::to_string(info.param.seed) + "_circuits" +
                                    std::to_string(info.param.circuits) + "_shown" +
                                    std::to_string(info.param.selected);
                         });

class BinderEdges : public ::testing::Test {
  protected:
    QWidget* Root() { return window.Pages(); }
    template <typename T>
    T* Find(const char* name) {
        return Root()->findChild<T*>(name);
    }
    ControlValue Read(const char* name) { return ReadControlState(Root(), {name})[name]; }

    TFormCfg window;
};

// Values the widgets cannot hold: they show what the field's range allows, never garbage.
TEST_F(BinderEdges, NumbersOutsideTheFieldShowItsBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        double applied;
        double shown;
    } cases[] = {
        {"TConst", 1e12, 150},  // whole field, beyond any int
        {"TConst", -1e12, -99}, {"TConst", inf, 150},
        {"TConst", nan, -99},  // not a number: the minimum
        {"TConst", 21.0, 21},   {"SerialN", 123, 500001},
        {"K1_P", nan, -65000},  {"K1_P", 1.23456, 1.2346},  // four decimals
        {"LuftKlap", 3, 2.55},  {"LuftKlap", -inf, 0},
    };
    for (const auto& c : cases) {
        ControlState s;
        s[c.name].number = c.applied;
        EXPECT_TRUE(ApplyControlState(Root(), s).empty());
        EXPECT_NEAR(Read(c.name).number, c.shown, 1e-9) << c.name << " " << c.applied;
    }
}

TEST_F(BinderEdges, ListsTakeIndexItemsAndEditableText) {
    auto* scheme = Find<QComboBox>("kod_scheme");
    const int schemeItems = scheme->count();
    ControlState s;
    s["kod_scheme"].index = schemeItems;  // beyond the list: no selection
    ApplyControlState(Root(), s);
    EXPECT_EQ(scheme->currentIndex(), -1);
    EXPECT_EQ(Read("kod_scheme").index, -1);
    EXPECT_EQ(scheme->count(), schemeItems);  // a state without items keeps the form's

    // A source list gets its items from the state; the same items again keep the choice.
    ControlState src;
    src["ParamReg"].items = {"нет", "T11    ", "T2     "};
    src["ParamReg"].index = 2;
    ApplyControlState(Root(), src);
    auto* reg = Find<QComboBox>("ParamReg");
    ASSERT_EQ(reg->count(), 3);
    EXPECT_EQ(reg->currentText(), QString("T2     "));
    src["ParamReg"].index = 1;
    ApplyControlState(Root(), src);
    EXPECT_EQ(reg->currentIndex(), 1);
    src["ParamReg"].items = {"нет", "T3     "};
    src["ParamReg"].index = 2;  // beyond the new, shorter list
    ApplyControlState(Root(), src);
    EXPECT_EQ(reg->count(), 2);
    EXPECT_EQ(reg->currentIndex(), -1);

    // An editable list shows the text even when no item matches it.
    ControlState edit;
    edit["CB_Addr"].text = "200";
    edit["CB_Baud"].index = 2;
    edit["CB_Baud"].text = "9600";
    ApplyControlState(Root(), edit);
    EXPECT_EQ(Read("CB_Addr").text, "200");
    EXPECT_EQ(Read("CB_Baud").index, 2);
    EXPECT_EQ(Read("CB_Baud").text, "9600");
}

TEST_F(BinderEdges, ButtonsLabelsMemosAndVisibility) {
    ControlState s;
    s["KlapClose"].checked = true;
    s["KlapOpen"].checked = false;
    s["KlapFree"].checked = false;
    s["AntiMud"].checked = true;
    s["NextSerial"].text = "500123";  // a plain button: its caption
    s["PanelTime"].text = "10:15:42";
    s["Num_Secur"].text = "+79001234567";
    s["Clbr_rt"].text = "\nRтсп1=100.5\nRтсп2=99.25";
    s["PanelBase2"].text = "---";
    s["PanelBase2"].visible = false;
    s["PanelBase2L"].visible = false;
    ASSERT_TRUE(ApplyControlState(Root(), s).empty());
    ExpectReadsBack(Root(), s, ReadControlState(Root(), Names(s)));
    EXPECT_TRUE(Find<QLabel>("PanelBase2")->isHidden());
    EXPECT_TRUE(Find<QLabel>("PanelBase2L")->isHidden());

    // The choice moves within the valve's buttons.
    s["KlapClose"].checked = false;
    s["KlapOpen"].checked = true;
    s["PanelBase2"].visible = true;
    ApplyControlState(Root(), s);
    EXPECT_TRUE(Read("KlapOpen").checked);
    EXPECT_FALSE(Read("KlapClose").checked);
    EXPECT_FALSE(Find<QLabel>("PanelBase2")->isHidden());
}

TEST_F(BinderEdges, UnknownNamesAreReportedAndSkipped) {
    ControlState s;
    s["NoSuchControl"].text = "x";
    s["PanelTime"].text = "01:02:03";
    s["AlsoMissing"].number = 1;
    EXPECT_EQ(ApplyControlState(Root(), s),
              (std::vector<std::string>{"AlsoMissing", "NoSuchControl"}));
    EXPECT_EQ(Read("PanelTime").text, "01:02:03");
    const ControlState read = ReadControlState(Root(), {"NoSuchControl", "PanelTime"});
    EXPECT_EQ(read.size(), 1u);
    EXPECT_TRUE(read.contains("PanelTime"));
}

// Fields kept hidden on the form stay hidden even though the presentation marks every control
// it sets as visible.
TEST_F(BinderEdges, HiddenServiceFieldsStayHidden) {
    window.show();
    window.PageControl()->setCurrentWidget(Root()->findChild<QWidget*>("TabSheetServ"));
    ControlState s;
    for (const char* name : {"AD_in0", "AD_in3", "ADelta", "AD_line", "AD_out0", "WriteAD"})
        s[name].visible = true;
    ApplyControlState(Root(), s);
    for (const auto& [name, value] : s)
        EXPECT_FALSE(Widget(Root(), name)->isVisible()) << name;
    EXPECT_TRUE(Widget(Root(), "Klb_KZ")->isVisible());
}

TEST_F(BinderEdges, ReadingAllLeavesOutTheToolkitsInnerWidgets) {
    const ControlState all = ReadControlState(Root());
    EXPECT_TRUE(all.contains("TConst"));
    EXPECT_TRUE(all.contains("TextError"));
    EXPECT_TRUE(all.contains("KlapFree"));
    for (const auto& [name, value] : all)
        EXPECT_NE(name.rfind("qt_", 0), 0u) << name;
}

}  // namespace
}  // namespace vir05
