// The main window's settings hooks and its web link.
#include "app/Vestrel_main_Settings.h"

#include "app/SettingsAdapters.h"
#include "app/Vestrel_main.h"
#include "export/D_Win.h"
#include "settings/D_Ini.h"

namespace vestrel {

void RestoreSavedSelections(TMainForm& form) {
  ComboBoxSettings trees(*form.ComboBoxTrees);
  ComboBoxSettings typeS(*form.ComboBoxTypeS);
  ComboBoxSettings typeP(*form.ComboBoxTypeP);
  RestoreControlState(trees);
  RestoreControlState(typeS);
  RestoreControlState(typeP);
}

void RestoreSavedGeometry(TMainForm& form) {
  WindowSettings window(form);
  RestoreWindowGeometry(window);
}

bool SaveWindowState(TMainForm& form) {
  // A fresh account may have no config folder yet; without it nothing could be kept. A
  // folder that cannot be made is not reported here: the first write says so.
  EnsureSettingsFolder(SettingsFilePath());
  const WindowSettings window(form);
  ComboBoxSettings trees(*form.ComboBoxTrees);
  ComboBoxSettings typeS(*form.ComboBoxTypeS);
  ComboBoxSettings typeP(*form.ComboBoxTypeP);
  SettingsControl* const controls[] = {&trees, &typeS, &typeP};
  return SaveMainWindowSettings(window, controls);
}

// The address goes to the desktop's opener; nothing is reported when there is none.
void TMainForm::StatusBar1Click() { OpenCommandLine(StatusBar1->SimpleText()); }

}  // namespace vestrel
