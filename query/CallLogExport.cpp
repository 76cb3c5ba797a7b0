#include "CallLogExport.h"

#include "CallLog.h"
#include "CommonDialog.h"
#include "Form.h"
#include "JournalService.h"
#include "MessageBoxes.h"

namespace tova {

namespace {
const QString kTypes = QStringLiteral("CSV 文件 (*.csv);;Excel 工作簿 (*.xlsx)");
void tellProblem(QWidget* window) {
    if (const QString problem = JournalService::instance().takeProblem(); !problem.isEmpty())
        MsgBox(problem, vbExclamation, kAppTitle, window);
}

} // namespace

void reportJournalProblems(QWidget* window) {
    QObject::connect(&JournalService::instance(), &JournalService::problem, window,
                     [window] { tellProblem(window); });
    tellProblem(window);
}

void exportCallLog(Form* window, const CallLogFilter& filter, const CallLogOrder& order) {
    const QString path = FileDialogSeam::get().saveFileName(window, kTypes);
    if (path.isEmpty()) return;
    window->setMousePointer(vbHourglass);
    JournalService::instance().ask<QString>(
        window,
        [path, filter, order](Journal& journal) {
            QString error;
            const QList<CallLogRow> rows = journal.callLog(filter, order, 0, -1).rows;
            return saveCallLog(path, callLogFormat(path), rows, error) ? QString() : error;
        },
        [window](const QString& error) {
            window->setMousePointer(vbDefault);
            if (!error.isEmpty())
                MsgBox(QStringLiteral("通话记录没有导出：") + error, vbExclamation, kAppTitle,
                       window);
        });
}

} // namespace tova
