// Copies a ControlState into the window's widgets and back, by object name.
//
// What a control holds depends on its widget type:
//   QSpinBox, QDoubleSpinBox          number (a value that is not a number shows the minimum)
//   QComboBox                         index (-1 or beyond the items: no selection); items when
//                                     the state gives them; text of an editable list
//   QCheckBox, QRadioButton           checked
//   QLabel, QLineEdit, QPlainTextEdit text (memo lines joined with "\n")
//   other buttons                     text (the caption)
// and every control its visibility. Reading fills only the members that belong to the type (and
// `visible`), so a state read back compares equal member by member to what was applied.
#pragma once

#include <string>
#include <vector>

#include "core/present/controls.h"

class QWidget;

namespace vir05 {

// Applies `state` below `root` (root included). Returns the names that no widget bears, in the
// state's order; each such name is also reported once per process to qWarning.
std::vector<std::string> ApplyControlState(QWidget* root, const ControlState& state);

// Reads the named controls below `root`. Names that no widget bears are left out and reported
// as by ApplyControlState.
ControlState ReadControlState(QWidget* root, const std::vector<std::string>& names);

// Reads every named control below `root` whose type the binder knows (the toolkit's own inner
// widgets, whose names begin with "qt_", are left out).
ControlState ReadControlState(QWidget* root);

}  // namespace vir05
