// The main window's presentation pass and collect, as plain data.
//
// PresentImage turns the device image into the state of the window's controls (by object name,
// see controls.h); CollectControls turns that state back into the image. Both walk the tables
// below, which the window's forms use too: the numeric edit fields with their kinds and ranges,
// the drop-down lists with their fixed items, and the bindings between controls and image fields.
// Standard library only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/present/controls.h"
#include "core/snapshot.h"
#include "model/memory.h"

namespace vir05 {

// ---------------------------------------------------------------------------------------------
// Numeric edit fields.

enum class SpinKind : std::uint8_t {
    Whole,    // shows whole numbers; halves round to the even neighbour
    Decimal,  // shows `decimals` digits after the point
};

struct SpinSpec {
    std::string_view name;  // object name of the control
    SpinKind kind;
    int decimals;  // 0 for whole fields
    double minimum;
    double maximum;
};

// Every numeric edit field of the window.
extern const std::span<const SpinSpec> kSpinSpecs;

// The definition of a numeric field by object name; nullptr when there is none.
const SpinSpec* FindSpinSpec(std::string_view name);

// The value the field shows for `value`: clamped to the range, then rounded to the field's kind.
// A value that is not a number shows as the minimum.
double SpinShow(const SpinSpec& def, double value);

// The value of a typed text ("." as separator, surrounding blanks ignored): a text that is not a
// number reads as the minimum; the result is what the field then shows.
double SpinRead(const SpinSpec& def, std::string_view text);

// The text of a shown value: whole fields without a point, decimal fields with exactly their
// number of decimals, "." as separator.
std::string SpinText(const SpinSpec& def, double shown);

// ---------------------------------------------------------------------------------------------
// Drop-down lists.

enum class ListKind : std::uint8_t {
    Fixed,            // the items below
    Sources,          // items set by the presentation: the source list, index = code + 1
    SourcesNoneless,  // items set by the presentation: the source list without "нет", index = code
};

struct ListSpec {
    std::string_view name;
    ListKind kind;
    bool editable;  // the user may type a text; for CB_Addr, CB_SysCount, AccTime and PinCode
                    // the text is what the collect reads, for CB_Baud the item index
    std::span<const std::string_view> items;  // empty for the source lists
};

// Every drop-down list of the window.
extern const std::span<const ListSpec> kListSpecs;

// The definition of a list by object name; nullptr when there is none.
const ListSpec* FindListSpec(std::string_view name);

// ---------------------------------------------------------------------------------------------
// Bindings between controls and image fields, in the order the collect takes them.

enum class FieldType : std::uint8_t { U8, I8, U16, I16, U32, I32, F32 };

// Width in bytes of a field type.
int FieldWidth(FieldType type);

enum class Conversion : std::uint8_t {
    Spin,        // numeric field: value x scale, truncated toward zero, saturated to the type
    Float,       // numeric field: value as a single-precision float
    List,        // item index stored as a byte (no selection: 255)
    SourceList,  // item index - 1 stored as a byte (lists whose first item is "нет")
    Check,       // 1 when ticked, 0 when not
    IntText,     // text as a decimal integer (textDefault when it is not one), low bytes stored
    PinBcd,      // four decimal digits, one BCD nibble each, first digit on top
    GsmPhone,    // 16 single-byte characters, zero bytes after the text
    GsmMessage,  // up to 106 characters from 1324, then a zero byte and 0x1A
    SensorType,  // item index into all eight sensor-type bytes
    Radio,       // one fixed code per radio button
};

// A radio button of a Radio binding and the code it stands for.
struct RadioCode {
    std::string_view button;  // object name of the radio button
    int code;
    std::string_view caption;  // what the change list says for this code
};

struct FieldBinding {
    std::string_view control;  // object name; for Radio the field's name (buttons in `radios`)
    std::string_view label;    // how a change of the field is named to the engineer
    bool inRecord;             // offset inside the shown circuit's record, else an address
    int offset;
    FieldType type;
    Conversion conversion;
    double scale = 1;       // stored = shown x scale
    int textDefault = 0;    // IntText: the stored value of a text that is not a number
    bool presented = true;  // the presentation shows the field through this entry
    std::span<const RadioCode> radios = {};
};

// Every collected field, global ones first, each circuit's in the order of collection.
extern const std::span<const FieldBinding> kFieldBindings;

// ---------------------------------------------------------------------------------------------
// The presentation pass.

struct PresentationState {
    ImageSnapshot snapshot;   // the image as of the last pass, NumSystems normalised
    int selectedCircuit = 0;  // the circuit the last pass showed (0 or 1)
    std::array<std::uint8_t, kCircuitRecordSize> selectedRecord{};
    std::array<std::uint8_t, kCircuitRecordSize> otherRecord{};
    std::uint32_t lastAdIn = 0;  // the three-byte AD_in number of the last pass, for ADelta
};

// Fills `out` with every control the pass sets, from DeviceImage of `areas` for the circuit in
// areas.SelectedCircuit (any value but 1 shows circuit 0). Never fails.
void PresentImage(const MemoryAreas& areas, PresentationState& state, ControlState& out);

// ---------------------------------------------------------------------------------------------
// The collect.

inline constexpr std::string_view kCollectFailedCaption =
    "Ошибка: не все значения заполнены правильно";

// Writes the controls of `in` into DeviceImage: the global fields at once, the shown circuit's
// fields into a working record copied over the circuit's record at the end. A control that is
// missing from `in` fails the collect: the working record is dropped (the circuit record keeps
// its contents), the global fields collected before stay written, and the result is false.
// `failedControl`, when given, receives the name of the control that failed.
bool CollectControls(const ControlState& in, MemoryAreas& areas,
                     std::string* failedControl = nullptr);

// The PIN text as four BCD digits. Blanks around the text are ignored; a text of four or more
// characters gives its first four positions; a shorter one is a number with leading zeros
// ("12" is 0012). A position that is not a decimal digit contributes 0.
std::uint16_t PinTextToBcd(std::string_view text);

// The mirror between TConst and Korr: when one of them changes to `changed` and neither it nor
// the other's shown value `other` is -99, the other is given the changed value (as the other
// field `otherField` shows it). Returns the other's new value, or nothing when it stays as is.
std::optional<double> KorrMirror(double changed, double other, const SpinSpec& otherField);

// ---------------------------------------------------------------------------------------------
// What a configuration write will send.

struct ConfigChange {
    std::string field;    // label of the field, or "Байты A..B" for bytes no binding covers
    std::string control;  // object name of the control; empty for uncovered bytes
    int circuit = 0;      // 0 for a global field, 1 or 2 for a circuit's field
    std::string oldText;  // in the units the window shows
    std::string newText;
};

// The differences between `image` and `shadow` (1955 bytes each) in the configuration area
// 76..1954, field by field, then every run of changed bytes that no field covers.
std::vector<ConfigChange> DescribeConfigChanges(const std::uint8_t* image,
                                                const std::uint8_t* shadow);

}  // namespace vir05
