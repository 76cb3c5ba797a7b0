#include "Settings.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <optional>

namespace tova {

namespace {

std::optional<Settings>& loaded() {
    static std::optional<Settings> settings;
    return settings;
}

// A Hayes command line: "AT" and printable ASCII, nothing that could end the line early.
bool isCommandLine(const QString& text) {
    static const QRegularExpression line(QStringLiteral("^[Aa][Tt][\\x20-\\x7E]*$"));
    return line.match(text).hasMatch();
}

// A value with a comma comes back from an INI file as a list.
QString text(const QSettings& file, const QString& key) {
    const QVariant value = file.value(key);
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',')
                                                     : value.toString();
}

} // namespace

const Settings& Settings::current() {
    if (!loaded()) loaded() = read();
    return *loaded();
}

void Settings::reload() {
    loaded() = read();
}

QString Settings::path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tova/tova.conf");
}

Settings Settings::read() {
    Settings settings;
    const QSettings file(path(), QSettings::IniFormat);
    const auto bad = [&](const QString& key) {
        settings.problems << QStringLiteral("%1=%2").arg(key, text(file, key));
    };
    const QString init = text(file, QStringLiteral("modem/init")).trimmed();
    if (init.isEmpty() || isCommandLine(init))
        settings.modemInit = init;
    else
        bad(QStringLiteral("modem/init"));
    const auto flag = [&](const QString& key, bool& value) {
        const QString given = text(file, key).toLower();
        if (given == u"true" || given == u"false")
            value = given == u"true";
        else if (!given.isEmpty())
            bad(key);
    };
    flag(QStringLiteral("modem/callerId"), settings.callerId);
    settings.audioSource = text(file, QStringLiteral("audio/source")).trimmed();
    if (settings.audioSource.contains(QRegularExpression(QStringLiteral("[\\x00-\\x1F]")))) {
        settings.audioSource.clear();
        bad(QStringLiteral("audio/source"));
    }
    // "modem" names no source of the sound server.
    settings.modemSource = settings.audioSource == u"modem";
    if (settings.modemSource) settings.audioSource.clear();
    const QString busyTone = text(file, QStringLiteral("line/busyTone"));
    if (const auto tone = BusyTone::parse(busyTone))
        settings.busyTone = *tone;
    else if (!busyTone.isEmpty())
        bad(QStringLiteral("line/busyTone"));
    flag(QStringLiteral("line/hangUpOnBusy"), settings.hangUpOnBusy);
    settings.webListen = text(file, QStringLiteral("web/listen")).trimmed();
    settings.webCertificate = text(file, QStringLiteral("web/certificate")).trimmed();
    settings.webKey = text(file, QStringLiteral("web/key")).trimmed();
    return settings;
}

} // namespace tova
