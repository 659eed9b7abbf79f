// Helpers for the tests that drive the Win32 dialogs headlessly: the
// dialogs are created modeless and hidden from the program's own templates,
// fields are typed with SetDlgItemTextW and buttons pressed with WM_COMMAND,
// while a RecordingPresenter takes every message.

#ifndef OVIX_WIN32_TEST_SUPPORT_H_
#define OVIX_WIN32_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "package/package_records.h"
#include "platform/program_paths.h"
#include "platform/zeda_system.h"
#include "testing/temp_dir.h"
#include "win32/dialog.h"
#include "win32/dialog_text.h"

namespace ovix::win32::testing {

constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n";

// Runs the start-up steps of the program that the jobs rely on.
class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerRecordClasses();
    ZedaSystem::setProjectDbtype(2);
  }
};

// Makes dir/program the program directory, the program named "ovixpatch",
// with one working settings file when `settingsText` is given.
inline std::string useProgramDirectory(const ovix::testing::TempDir& dir,
                                       const std::string& settingsName = "",
                                       const std::string& settingsText = "") {
  std::string program = dir.mkdir("program");
  if (!settingsText.empty()) dir.write("program/" + settingsName, settingsText);
  fillProgramPaths(program + "/ovixpatch", std::nullopt);
  return program;
}

// Creates the dialog, hidden; fails the test when the template is missing.
inline void open(Dialog& dlg) { ASSERT_NE(dlg.createModeless(nullptr), nullptr); }

inline void type(const Dialog& dlg, int id, const std::string& text) {
  setItemText(dlg.window(), id, text);
}

inline std::string textOf(const Dialog& dlg, int id) { return itemText(dlg.window(), id); }

// Presses a button of the dialog as a click does.
inline void press(const Dialog& dlg, int id) {
  SendMessageW(dlg.window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg.window(), id)));
}

inline bool isOpen(const Dialog& dlg) { return dlg.window() != nullptr && dlg.result() == 0; }

}  // namespace ovix::win32::testing

#endif  // OVIX_WIN32_TEST_SUPPORT_H_
