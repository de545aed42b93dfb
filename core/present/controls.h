// The state of the window's controls as plain data.
//
// The presentation pass writes the image into this state and the collect reads it back; the
// window copies it into its widgets and out of them by object name. So everything the window
// shows and every conversion of an edit is computed and tested without any toolkit.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vir05 {

struct ControlValue {
    // Spin edits: the value (already rounded and clamped by the presentation).
    double number = 0;
    // Labels, panels, edits, memos (lines joined with "\n") and editable drop-down lists.
    std::string text;
    // Drop-down lists: the item index, -1 for no selection.
    int index = -1;
    // Check boxes and radio buttons.
    bool checked = false;
    bool visible = true;
    // Drop-down lists whose items the presentation sets (the source lists); empty: keep the
    // items the form has.
    std::vector<std::string> items;
};

// Controls by object name. Only the controls a pass sets are present.
using ControlState = std::map<std::string, ControlValue, std::less<>>;

}  // namespace vir05
