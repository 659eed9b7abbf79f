// Helpers for the dialog tests that drive Qt dialogs offscreen:
//   typeText     sends one key press and release carrying `text`, the way a
//                user's input method delivers it; QTest::keyClicks cannot
//                carry Chinese.
//   replaceText  focuses a line edit, selects all and types over it; an empty
//                text is a Delete key, since a key event without text does
//                not touch the selection.
//   clickOk      clicks the OK button of the dialog's QDialogButtonBox.
//   comboItems   the item texts of a combo box, in order.
//   savePicture  saves a grab of the widget into OVIX_PICTURE_DIR, failing
//                the current test when it cannot be written.
//   runSql       runs statements on an SQLite file, creating it, so a test
//                can lay out a store without going through the code under
//                test.
//   queryRows    reads rows back from an SQLite file, each row's columns
//                joined with '|'.
//   useProgramDirectory
//                makes dir/program the current program directory, with a
//                settings file when one is given: the dialogs read their
//                remembered texts from there.
//
// Only for the GUI test executables: they define OVIX_PICTURE_DIR.

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
#include <QWidget>
#include <QtTest>
#include <optional>
#include <string>
#include <vector>

#include "platform/program_paths.h"
#include "testing/temp_dir.h"

#ifndef OVIX_PICTURE_DIR
#error "OVIX_PICTURE_DIR must name the directory for the pictures of the dialogs"
#endif

namespace ovix::testing {

inline void typeText(QWidget* target, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

inline void replaceText(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  if (text.isEmpty())
    QTest::keyClick(edit, Qt::Key_Delete);
  else
    typeText(edit, text);
}

inline void clickOk(QDialog* dlg) {
  dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
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

// Runs `sql` on the SQLite file at `path`, creating it; "" or the error.
inline std::string runSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  std::string error;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : "cannot open";
  } else {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
      error = message != nullptr ? message : "failed";
      sqlite3_free(message);
    }
  }
  sqlite3_close(db);
  return error;
}

// Every row of `sql` on the existing SQLite file at `path`, each row's
// columns joined with '|' and NULL read as "".  A file that cannot be opened
// or a statement that cannot be prepared gives no rows.
inline std::vector<std::string> queryRows(const std::string& path, const char* sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
          if (i > 0) row += '|';
          if (auto* text = sqlite3_column_text(stmt, i)) row += reinterpret_cast<const char*>(text);
        }
        rows.push_back(row);
      }
    }
    sqlite3_finalize(stmt);
  }
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

}  // namespace ovix::testing

#endif  // OVIX_TESTING_DIALOG_TEST_SUPPORT_H_
