// The log viewer driven offscreen: a log shown read-only through the
// presenter, editing, resizing, and a picture of it saved in the build tree.

#include <QPlainTextEdit>
#include <QTimer>
#include <QtTest>

#include "app/log_viewer.h"
#include "gui/qt_presenter.h"
#include "gui/text_edit_dlg.h"
#include "platform/presenter.h"
#include "testing/dialog_test_support.h"

namespace {

using ovix::testing::clickOk;
using ovix::testing::execDoing;
using ovix::testing::savePicture;
using ovix::testing::showExposed;
using ovix::testing::typeText;

}  // namespace

class TextEditDlgTest : public QObject {
  Q_OBJECT

 private slots:
  // Four log lines, the long one broken after 1023 characters: five lines,
  // each ended by the viewer's own line end.
  void presenterShowsLogsReadOnlyUnderTheirTitle() {
    ovix::testing::TempDir dir;
    std::string path =
        dir.write("autoPatchLog.txt",
                  "Enter update app,checking cmd......\t[2026.12.05 09:00:00 Saturday]\n"
                  "-checkupdate\t[2026.12.05 09:00:00 Saturday]\n"
                  "更新文件 bin\\v80-win32\\OvixDesign.exe\t[2026.12.05 09:00:02]\n" +
                      std::string(1100, '#') + "\n");
    QtPresenter presenter;
    zdcom::ScopedPresenter guard(&presenter);
    bool readOnly = false;
    QString title, text;
    QTimer::singleShot(0, [&] {
      if (auto* dlg = qobject_cast<CZedaTextEditDlg*>(QApplication::activeModalWidget())) {
        readOnly = dlg->textEdit()->isReadOnly();
        title = dlg->windowTitle();
        text = dlg->textEdit()->toPlainText();
        savePicture(dlg, "log_viewer.png");
        dlg->reject();
      }
    });
    zdcom::currentPresenter().showText(
        "日志记录", ovix::joinLogLines(ovix::readTextLines(*ovix::Env::Default(), path)));
    QVERIFY(readOnly);
    QCOMPARE(title, QStringLiteral("日志记录"));
    QCOMPARE(text.count(QLatin1Char('\n')), 5);
    QVERIFY(!text.contains(QLatin1Char('\r')));
    QVERIFY(text.endsWith(QLatin1Char('\n') + QString(77, QLatin1Char('#')) + QLatin1Char('\n')));
  }

  // The text is selected at the start, so typing replaces it; only OK hands
  // the edited text back.
  void editableDialogReturnsTheEditedTextOnOkOnly() {
    for (bool ok : {true, false}) {
      CZedaTextEditDlg dlg;
      dlg.m_text = QStringLiteral("原文");
      QString selectedAtStart;
      int result = execDoing(&dlg, [&] {
        selectedAtStart = dlg.textEdit()->textCursor().selectedText();
        typeText(dlg.textEdit(), QStringLiteral("新文"));
        if (ok) clickOk(&dlg);
      });
      QCOMPARE(selectedAtStart, QStringLiteral("原文"));
      QCOMPARE(result, int(ok ? QDialog::Accepted : QDialog::Rejected));
      QCOMPARE(dlg.m_text, ok ? QStringLiteral("新文") : QStringLiteral("原文"));
    }
  }

  void resizingKeepsTheEditBoxDistancesToTheEdges() {
    CZedaTextEditDlg dlg;
    QVERIFY(showExposed(&dlg));
    QRect before = dlg.textEdit()->geometry();
    dlg.resize(dlg.size() + QSize(200, 120));
    QCoreApplication::processEvents();
    QCOMPARE(dlg.textEdit()->geometry(), before.adjusted(0, 0, 200, 120));
  }
};

QTEST_MAIN(TextEditDlgTest)
#include "text_edit_dlg_test.moc"
