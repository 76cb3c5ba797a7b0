// The yardstick of bench_startup: a bare Qt window with the main window's title.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("TOVA电话录音系统V2.0"));
    window.show();
    return app.exec();
}
