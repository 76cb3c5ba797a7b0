// The yardsticks of bench_startup: a bare Qt window with the main window's title and, with
// --line-edit, the same window holding one empty line edit: the least a window with any text in
// it costs, since its first text layout loads the font configuration and a font.
#include <QApplication>
#include <QLineEdit>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("TOVA电话录音系统V2.0"));
    if (app.arguments().contains(QStringLiteral("--line-edit"))) new QLineEdit(&window);
    window.show();
    return app.exec();
}
