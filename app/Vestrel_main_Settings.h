// What the main window keeps between runs: its position and size and the selections of
// its three combo boxes (ComboBoxTrees, ComboBoxTypeS, ComboBoxTypeP), in the settings
// file's section "Settings".
#pragma once

namespace vestrel {

class TMainForm;

// At creation, once the tree list is filled: the saved selections (and any saved sizes) of
// the three combo boxes, in that order. Restoring a selection does not change the tree.
void RestoreSavedSelections(TMainForm& form);
// At show, before the tree is changed: the saved position and size.
void RestoreSavedGeometry(TMainForm& form);
// At close: the geometry, then the three selections, in that order; only what changed is
// written. A failing write is shown once ("Unable to write to ...") and the window closes
// all the same. Returns whether everything was saved.
bool SaveWindowState(TMainForm& form);

}  // namespace vestrel
