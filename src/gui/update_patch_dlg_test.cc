// The download dialog driven offscreen: its remembered fields, a refused
// OK, and a whole download from an embedded store, with a picture.

#include <sqlite3.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "app/program_paths.h"
#include "gui/update_patch_dlg.h"
#include "package/package_records.h"
#include "packing/pack_job.h"
#include "platform/zeda_system.h"
#include "server/download.h"
#include "server/upload.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n";

// Types text the way a user does; QTest::keyClicks cannot carry Chinese.
void typeText(QWidget* target, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

void replaceText(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  if (text.isEmpty())
    QTest::keyClick(edit, Qt::Key_Delete);
  else
    typeText(edit, text);
}

void clickOk(QDialog* dlg) {
  dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

void savePicture(QWidget* widget, const char* name) {
  QDir().mkpath(QStringLiteral(OVIX_PICTURE_DIR));
  QVERIFY(widget->grab().save(QStringLiteral(OVIX_PICTURE_DIR "/") + QLatin1String(name)));
}

// The first column of every row of `sql` on the SQLite file at `path`.
std::vector<std::string> queryColumn(const std::string& path, const char* sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        auto* text = sqlite3_column_text(stmt, 0);
        rows.push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
      }
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return rows;
}

std::string setupValue(const std::string& setupFile, const char* key) {
  ovix::IniFile ini;
  ini.load(*ovix::Env::Default(), setupFile);
  char const* value = ini.getValue("OVIX", key);
  return value != nullptr ? value : "<none>";
}

// The pack job never asks here: the tree has its setup file.
class NoQuestionsPackUi final : public ovix::PackJobUi {
 public:
  bool askVersion(bool, ovix::VersionInfo*) override { return false; }
  bool chooseProjectInfoFile(const std::string&, std::string*) override { return false; }
};

}  // namespace

class UpdatePatchDlgTest : public QObject {
  Q_OBJECT

 private:
  // A program directory dir/program (with the settings file when
  // `downloadIni` is not empty) made the current one.
  static std::string useProgramDirectory(const ovix::testing::TempDir& dir,
                                         const std::string& downloadIni = "") {
    std::string program = dir.mkdir("program");
    if (!downloadIni.empty()) dir.write("program/ovixpatch_download.ini", downloadIni);
    ovix::fillProgramPaths(program + "/ovixpatch", std::nullopt);
    return program;
  }

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
    ZedaSystem::setProjectDbtype(2);
  }

  // ---- fields ---------------------------------------------------------------

  void dialogShowsTheRememberedTexts() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir,
                        "[MySqlServer]\nIP=192.168.10.20\nPORT=3306\nPATH=/opt/ovix/安装\n");
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("OVIX补丁程序"));
    QCOMPARE(dlg.installEdit()->text(), QStringLiteral("/opt/ovix/安装"));
    QCOMPARE(dlg.addressEdit()->text(), QStringLiteral("192.168.10.20"));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3306"));
    auto* buttons = dlg.findChild<QDialogButtonBox*>();
    QVERIFY(buttons->button(QDialogButtonBox::Ok)->isDefault());
    QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    savePicture(&dlg, "download_dialog.png");

    // Showing again keeps what was typed.
    replaceText(dlg.portEdit(), QStringLiteral("3307"));
    dlg.hide();
    dlg.show();
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3307"));
    QCOMPARE(dlg.installEdit()->text(), QStringLiteral("/opt/ovix/安装"));
  }

  void firstStartWithoutSettingsFileShowsEmptyBoxes() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir);
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.installEdit()->text().isEmpty());
    QVERIFY(dlg.addressEdit()->text().isEmpty());
    QVERIFY(dlg.portEdit()->text().isEmpty());
  }

  // ---- OK ---------------------------------------------------------------------

  void emptyPortKeepsTheDialogOpenAndSavesNothing() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir);
    std::string install = dir.mkdir("install");
    dir.write("install/ovixsetup.ini", kSetup);
    const std::string settings = dir.file("program/ovixpatch_download.ini");

    ovix::testing::ScopedRecorder recorder;
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    bool openAfterOk = false;
    bool settingsAfterOk = true;
    std::vector<std::string> messagesAfterOk;
    QString installAfterOk;
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.installEdit(), QString::fromUtf8(install));
      replaceText(dlg.addressEdit(), QString::fromUtf8("file:" + dir.mkdir("store")));
      replaceText(dlg.portEdit(), QString());
      clickOk(&dlg);
      openAfterOk = dlg.isVisible();
      settingsAfterOk = fs::exists(fs::path(settings));
      messagesAfterOk = recorder.messages;
      installAfterOk = dlg.installEdit()->text();
      dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));

    QVERIFY(openAfterOk);
    QCOMPARE(installAfterOk, QString::fromUtf8(install));
    QCOMPARE(messagesAfterOk.size(), size_t(1));
    QVERIFY2(messagesAfterOk[0].rfind("版本补丁数据库不存在:", 0) == 0,
             messagesAfterOk[0].c_str());
    QVERIFY(!settingsAfterOk);
    QVERIFY(!fs::exists(fs::path(settings)));
    QCOMPARE(setupValue(dir.file("install/ovixsetup.ini"), "PATCH"), std::string("<none>"));
  }

  void okDownloadsThePatchAndRemembersTheTexts() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir);
    ovix::Env& env = *ovix::Env::Default();

    // Pack a tree holding a newer .dll and put it into an embedded store.
    dir.write("tree/ovixsetup.ini", kSetup);
    dir.write("tree/bin/core.dll", "new dll bytes");
    dir.mkdir("program/userA");
    const std::string store = dir.mkdir("store");
    const std::string address = "file:" + store;
    {
      ovix::testing::ScopedRecorder quiet;  // keeps the pack and upload reports quiet
      ovix::PackDialogFields fields{"userA", dir.file("tree"), "", "DLL"};
      NoQuestionsPackUi packUi;
      std::string packed;
      QVERIFY(ovix::packDialogOk(env, fields, "DLL", packUi, &packed));
      QVERIFY(ovix::uploadPackage(env, packed, address.c_str(), "0"));
    }
    const std::vector<std::string> keys =
        queryColumn(store + "/ovixinstallpatch.sqlite", "SELECT m_skey FROM OVIXPackageInfo");
    QCOMPARE(keys.size(), size_t(1));

    // An installation with an older copy; a non-ASCII name must reach the
    // core unchanged.
    const std::string install = dir.mkdir("安装");
    dir.write("安装/ovixsetup.ini", kSetup);
    dir.write("安装/bin/core.dll", "old");

    ovix::testing::ScopedRecorder recorder;
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.installEdit(), QString::fromUtf8(install));
      replaceText(dlg.addressEdit(), QString::fromUtf8(address));
      replaceText(dlg.portEdit(), QStringLiteral("0"));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));

    QCOMPARE(recorder.messages, std::vector<std::string>({"下载补丁完成"}));
    QCOMPARE(dir.read("安装/bin/core.dll"), std::string("new dll bytes"));
    QCOMPARE(setupValue(dir.file("安装/ovixsetup.ini"), "PATCH"), keys[0]);
    QCOMPARE(setupValue(dir.file("安装/ovixsetup.ini"), "NAME"), std::string("OVIX_TARNO"));

    COvixUpdatePatchDlg again(ovix::Env::Default());
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.installEdit()->text(), QString::fromUtf8(install));
    QCOMPARE(again.addressEdit()->text(), QString::fromUtf8(address));
    QCOMPARE(again.portEdit()->text(), QStringLiteral("0"));
  }
};

QTEST_MAIN(UpdatePatchDlgTest)
#include "update_patch_dlg_test.moc"
