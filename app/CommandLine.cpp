#include "CommandLine.h"

#include "ChineseQtTexts.h"
#include "CommPortNames.h"
#include "PortDiagnosis.h"
#include "WebServe.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace tova {

namespace {

constexpr int kUsageError = 2;

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
}

void listPorts() {
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        const QString path = commPortPath(port);
        print(stdout, QStringLiteral("COM%1 %2 %3\n")
                          .arg(port)
                          .arg(path.isEmpty() ? QStringLiteral("—") : path,
                               PortDiagnosis(path, PortDiagnosis::AskModem).stateText()));
    }
}

QString refusal(const QCommandLineParser& parser) {
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        return QStringLiteral("不认识的选项: %1%2\n")
            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("多余的参数: %1\n").arg(parser.positionalArguments().join(u' '));
    return parser.errorText() + u'\n';
}

} // namespace

std::optional<int> runCommandLine(int& argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tova-recorder"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOVA_VERSION));
    installChineseQtTexts(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("TOVA电话录音系统: 用话音MODEM拨打、接听电话,把每次通话录成一个WAV文件。\n"
                       "不带选项时打开主窗口。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption ports(
        QStringLiteral("ports"), QStringLiteral("列出COM3到COM9各是哪个设备、能否打开、上面的MODEM能否录音,然后退出。"));
    parser.addOption(ports);
    const QCommandLineOption serve(
        QStringLiteral("serve"),
        QStringLiteral("不开窗口，把通话记录作为网页提供给别的电脑的浏览器。"));
    const QCommandLineOption webPassword(QStringLiteral("set-web-password"),
                                         QStringLiteral("设置网页的登录密码（在终端输入两次）。"));
    parser.addOptions({serve, webPassword});

    if (!parser.parse(app.arguments()) || !parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("tova-recorder: ") + refusal(parser) +
                          QStringLiteral("用 tova-recorder --help 查看可用的选项。\n"));
        return kUsageError;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        print(stdout, parser.helpText());
    else if (parser.isSet(version))
        print(stdout,
              QStringLiteral("%1 %2\n").arg(app.applicationName(), app.applicationVersion()));
    else if (parser.isSet(ports))
        listPorts();
    else if (parser.isSet(serve))
        return serveWeb();
    else if (parser.isSet(webPassword))
        return setWebPassword();
    else
        return std::nullopt;
    return 0;
}

} // namespace tova
