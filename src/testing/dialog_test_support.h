// Helpers for the tests that drive Qt dialogs offscreen.  Only for the GUI
// test executables: they define OVIX_PICTURE_DIR.

#ifndef OVIX_TESTING_DIALOG_TEST_SUPPORT_H_
#define OVIX_TESTING_DIALOG_TEST_SUPPORT_H_

#include <sqlite3.h>

#include <QApplication>
#include <QComboBox>
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

#include "platform/program_paths.h"
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

// Shows the widget and waits until it is the active window, so that focus
// moves between its edits as a user's clicks would move it.
inline bool showActive(QWidget* widget) {
  widget->show();
  widget->activateWindow();
  return QTest::qWaitForWindowActive(widget);
}

// Calls `handle` once with the dialog of type T when it is the active modal
// window, and rejects the dialog if `handle` left it open.  A timer of its
// own per call, dying with `owner`, polls inside any modal loop.
template <typename T>
void whenModal(QObject* owner, std::function<void(T*)> handle) {
  auto* timer = new QTimer(owner);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, handle] {
    auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dlg == nullptr) return;
    timer->stop();
    timer->deleteLater();
    handle(dlg);
    if (dlg->isVisible()) dlg->reject();
  });
  timer->start(10);
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
inline std::vector<std::string> runSql(const std::string& path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  auto collect = [](void* out, int n, char** values, char**) {
    std::string row;
    for (int i = 0; i < n; ++i) row += (i > 0 ? "|" : "") + std::string(values[i] ? values[i] : "");
    static_cast<std::vector<std::string>*>(out)->push_back(row);
    return 0;
  };
  sqlite3_open(path.c_str(), &db);  // a failure shows as the error of the statement
  if (sqlite3_exec(db, sql.c_str(), collect, &rows, nullptr) != SQLITE_OK)
    rows = {std::string("error: ") + sqlite3_errmsg(db)};
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
