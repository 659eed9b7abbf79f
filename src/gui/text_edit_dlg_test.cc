// The log viewer driven offscreen: read-only viewing, editing, resizing, and
// a picture of it saved in the build tree.

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "app/log_viewer.h"
#include "gui/qt_presenter.h"
#include "gui/text_edit_dlg.h"
#include "platform/presenter.h"
#include "testing/dialog_test_support.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::clickOk;
using ovix::testing::savePicture;
using ovix::testing::typeText;

QString sampleLog() {
  ovix::testing::TempDir dir;
  std::string log =
      "Enter update app,checking cmd......\t[2026.12.05 09:00:00 Saturday]\n"
      "-checkupdate\t[2026.12.05 09:00:00 Saturday]\n"
      "更新文件 bin\\v80-win32\\OvixDesign.exe\t[2026.12.05 09:00:02 Saturday]\n" +
      std::string(1100, '#') + "\n";
  std::string path = dir.write("autoPatchLog.txt", log);
  return toDisplayText(ovix::joinLogLines(ovix::readTextLines(*ovix::Env::Default(), path)));
}

}  // namespace

class TextEditDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void readOnlyViewerRefusesTypingAndShowsLongLinesBroken() {
    CZedaTextEditDlg dlg;
    dlg.m_title = QStringLiteral("日志记录");
    dlg.m_text = sampleLog();
    dlg.m_editable = false;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QPlainTextEdit* edit = dlg.textEdit();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("日志记录"));
    QVERIFY(edit->isReadOnly());
    // Four log lines, the long one broken after 1023 characters: five lines.
    QCOMPARE(edit->document()->blockCount(), 6);  // and the empty one after the last break
    QCOMPARE(edit->document()->findBlockByNumber(3).text().size(), 1023);

    QString before = edit->toPlainText();
    edit->setFocus();
    typeText(edit, QStringLiteral("改"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->toPlainText(), before);

    savePicture(&dlg, "log_viewer.png");
    dlg.reject();
    QCOMPARE(dlg.m_text, sampleLog());
  }

  void editableDialogSelectsAllAndReturnsTheEditedTextOnOk() {
    CZedaTextEditDlg dlg;
    dlg.m_text = QStringLiteral("原文");
    QString selectedAtStart;
    // The callback only acts and always closes the dialog; the checks follow
    // exec(), so a failure cannot leave the modal loop running.
    QTimer::singleShot(0, &dlg, [&] {
      QPlainTextEdit* edit = dlg.textEdit();
      selectedAtStart = edit->textCursor().selectedText();
      typeText(edit, QStringLiteral("新文"));  // replaces the selection
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    int result = dlg.exec();
    QCOMPARE(selectedAtStart, QStringLiteral("原文"));
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dlg.m_text, QStringLiteral("新文"));
  }

  void cancelKeepsTheOriginalText() {
    CZedaTextEditDlg dlg;
    dlg.m_text = QStringLiteral("keep");
    QTimer::singleShot(0, &dlg, [&dlg] {
      typeText(dlg.textEdit(), QStringLiteral("x"));
      dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    QCOMPARE(dlg.m_text, QStringLiteral("keep"));
  }

  void resizingKeepsTheEditBoxDistancesToTheEdges() {
    CZedaTextEditDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QRect before = dlg.textEdit()->geometry();
    QSize sizeBefore = dlg.size();
    dlg.resize(sizeBefore + QSize(200, 120));
    QCoreApplication::processEvents();
    QRect after = dlg.textEdit()->geometry();
    QCOMPARE(after.topLeft(), before.topLeft());
    QCOMPARE(after.width(), before.width() + 200);
    QCOMPARE(after.height(), before.height() + 120);
    dlg.resize(sizeBefore);
    QCoreApplication::processEvents();
    QCOMPARE(dlg.textEdit()->geometry(), before);
  }

  void presenterShowsLogsInAReadOnlyViewer() {
    QtPresenter presenter;
    zdcom::ScopedPresenter guard(&presenter);
    bool sawViewer = false;
    QTimer::singleShot(0, [&sawViewer] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dlg = qobject_cast<CZedaTextEditDlg*>(w); dlg && dlg->isVisible()) {
          sawViewer = dlg->textEdit()->isReadOnly() &&
                      dlg->textEdit()->toPlainText() == QStringLiteral("a\nb\n") &&
                      dlg->windowTitle() == QStringLiteral("日志记录");
          dlg->reject();
        }
      }
    });
    zdcom::currentPresenter().showText("日志记录", "a\r\nb\r\n");
    QVERIFY(sawViewer);
  }
};

QTEST_MAIN(TextEditDlgTest)
#include "text_edit_dlg_test.moc"
