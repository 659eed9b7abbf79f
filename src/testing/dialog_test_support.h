// Helpers for the dialog tests that drive Qt dialogs offscreen.  Only for
// the GUI test executables: they define OVIX_PICTURE_DIR.

#ifndef OVIX_TESTING_DIALOG_TEST_SUPPORT_H_
#define OVIX_TESTING_DIALOG_TEST_SUPPORT_H_

#include <sqlite3.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/pack_job.h"
#include "platform/program_paths.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

#ifndef OVIX_PICTURE_DIR
#error "OVIX_PICTURE_DIR must name the directory for the pictures of the dialogs"
#endif

namespace ovix::testing {

constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n";

// One key press and release carrying `text`, as an input method delivers
// it; QTest::keyClicks cannot carry Chinese.
inline void typeText(QWidget* target, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

// Types `text`, which must not be empty, over all of the edit.
inline void replaceText(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  typeText(edit, text);
}

inline void clickOk(QDialog* dlg) {
  dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

inline bool showExposed(QWidget* widget) {
  widget->show();
  return QTest::qWaitForWindowExposed(widget);
}

// Runs `act` inside the dialog's modal loop, then rejects the dialog if `act`
// left it open: Rejected means OK did not close it.  Checks belong after the
// call, so a failure cannot leave the loop running.
inline int execDoing(QDialog* dlg, const std::function<void()>& act) {
  QTimer::singleShot(0, dlg, [dlg, act] {
    act();
    if (dlg->isVisible()) dlg->reject();
  });
  return dlg->exec();
}

inline QStringList comboItems(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

// QVERIFY returns from this function only; a caller that must not go on
// after a failed save checks QTest::currentTestFailed().
inline void savePicture(QWidget* widget, const char* name) {
  QDir().mkpath(QStringLiteral(OVIX_PICTURE_DIR));
  QVERIFY(widget->grab().save(QStringLiteral(OVIX_PICTURE_DIR "/") + QLatin1String(name)));
}

// Runs `sql` on the SQLite file at `path`, creating it, without the code
// under test: the rows, each row's columns joined with '|', or the error as
// the only row.
inline std::vector<std::string> runSql(const std::string& path, const char* sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  char* error = nullptr;
  auto collect = [](void* out, int n, char** values, char**) {
    std::string row;
    for (int i = 0; i < n; ++i) row += (i > 0 ? "|" : "") + std::string(values[i] ? values[i] : "");
    static_cast<std::vector<std::string>*>(out)->push_back(row);
    return 0;
  };
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, sql, collect, &rows, &error) != SQLITE_OK)
    rows = {std::string("error: ") + (error != nullptr ? error : sqlite3_errmsg(db))};
  sqlite3_free(error);
  sqlite3_close(db);
  return rows;
}

// Makes dir/program the current program directory and returns it.  When
// `settingsText` is not empty it is written to program/`settingsName` first.
inline std::string useProgramDirectory(const TempDir& dir, const std::string& settingsName = "",
                                       const std::string& settingsText = "") {
  std::string program = dir.mkdir("program");
  if (!settingsText.empty()) dir.write("program/" + settingsName, settingsText);
  ovix::fillProgramPaths(program + "/ovixpatch", std::nullopt);
  return program;
}

// Packs dir/tree, a setup file and bin/core.dll holding `dll`, quietly into
// a software package of the user folder userA; its path, "" on failure.
inline std::string packSoftware(const TempDir& dir, const std::string& dll) {
  struct : ovix::PackJobUi {
    bool askVersion(bool, ovix::VersionInfo*) override { return false; }
    bool chooseProjectInfoFile(const std::string&, std::string*) override { return false; }
  } neverAsked;
  dir.write("tree/ovixsetup.ini", kSetup);
  dir.write("tree/bin/core.dll", dll);
  dir.mkdir("program/userA");
  ScopedRecorder quiet;
  std::string packed;
  ovix::packDialogOk(*ovix::Env::Default(), {"userA", dir.file("tree"), "", "DLL"}, "DLL",
                     neverAsked, &packed);
  return packed;
}

}  // namespace ovix::testing

#endif  // OVIX_TESTING_DIALOG_TEST_SUPPORT_H_
