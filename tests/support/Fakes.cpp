#include "Fakes.h"

namespace tova::test {

int FakeMessageBoxes::show(QWidget*, const QString& prompt, int style, const QString& title) {
    shown.append({prompt, style, title});
    if (whileShown) whileShown();
    return answers.isEmpty() ? vbOK : answers.takeFirst();
}

QString FakeFileDialogs::saveFileName(QWidget*, const QString& filter) {
    filters.append(filter);
    return answers.isEmpty() ? QString() : answers.takeFirst();
}

} // namespace tova::test
