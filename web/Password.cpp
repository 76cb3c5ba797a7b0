#include "Password.h"

#include "PrivateFile.h"

#include <QFile>
#include <QStandardPaths>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

namespace tova {

namespace {

constexpr qsizetype kShortestPassword = 8;
// Not the full length of a terminal line: what a user types, with room to spare.
constexpr qsizetype kLongestPassword = 1024;

void say(const QString& text) {
    std::fputs(text.toUtf8().constData(), stderr);
}

// One line from standard input; without echo where it is a terminal.
std::optional<QByteArray> askLine(const QString& prompt) {
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    // Silent before the prompt shows, so that nothing typed at once is echoed.
    if (terminal) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    say(prompt);
    std::string line;
    const bool read = bool(std::getline(std::cin, line));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        say(QStringLiteral("\n"));
    }
    QByteArray bytes(line.data(), qsizetype(line.size()));
    sodium_memzero(line.data(), line.size());
    if (!read) return std::nullopt;
    return bytes;
}

} // namespace

QString webPasswordPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tova/web-password");
}

bool hasWebPassword() {
    QFile file(webPasswordPath());
    return file.open(QIODevice::ReadOnly) && file.readAll().trimmed().startsWith("$argon2id$");
}

bool isWebPassword(const QByteArray& password) {
    QFile file(webPasswordPath());
    if (!file.open(QIODevice::ReadOnly) || sodium_init() < 0) return false;
    const QByteArray hash = file.readAll().trimmed();
    // One hash at a time: each takes 64 MiB, which many logins at once must not multiply.
    static std::mutex hashing;
    const std::lock_guard lock(hashing);
    return hash.startsWith("$argon2id$") &&
           crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                    quint64(password.size())) == 0;
}

bool storeWebPassword(const QByteArray& password, QString& error) {
    char hash[crypto_pwhash_STRBYTES];
    if (sodium_init() < 0 ||
        crypto_pwhash_str_alg(hash, password.constData(), quint64(password.size()),
                              crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13)) {
        error = QStringLiteral("内存不够，不能计算密码的散列值。");
        return false;
    }
    return writePrivateFile(webPasswordPath(), QByteArray(hash) + '\n', error);
}

int setWebPasswordFromTerminal() {
    const auto first = askLine(QStringLiteral("新的网页密码："));
    if (!first) return 1;
    const qsizetype length = QString::fromUtf8(*first).size();
    if (length < kShortestPassword || first->size() > kLongestPassword) {
        say(QStringLiteral("密码要有%1到%2个字符，没有保存。\n")
                .arg(kShortestPassword)
                .arg(kLongestPassword));
        return 1;
    }
    const auto second = askLine(QStringLiteral("再输入一次："));
    if (!second || *second != *first) {
        say(QStringLiteral("两次输入的密码不一样，没有保存。\n"));
        return 1;
    }
    QString error;
    if (!storeWebPassword(*first, error)) {
        say(QStringLiteral("密码没有保存：%1\n").arg(error));
        return 1;
    }
    say(QStringLiteral("网页密码已保存在 %1 （只存散列值）。\n").arg(webPasswordPath()));
    return 0;
}

} // namespace tova
