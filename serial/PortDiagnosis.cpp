#include "PortDiagnosis.h"

#include "CommPortNames.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tova {

namespace {

// Where serial programs (Qt's serial port among them, minicom, uucp) leave their LCK.. files.
const QString kLockFolders[] = {
    QStringLiteral("/var/lock"),        QStringLiteral("/etc/locks"),
    QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
    QStringLiteral("/tmp"),             QStringLiteral("/var/tmp"),
    QStringLiteral("/var/lock/lockdev"), QStringLiteral("/run/lock"),
};

const QString kModemManager = QStringLiteral("ModemManager");

QString programText(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    const QString name =
        comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
    return QStringLiteral("%1 (进程 %2)").arg(name.isEmpty() ? QStringLiteral("?") : name).arg(pid);
}

// The program named by a live lock file of the device, as Qt's serial port names it.
QString lockHolder(const QString& path)
{
    QString name = path.startsWith(QStringLiteral("/dev/")) ? path.sliced(5) : path;
    name = QStringLiteral("/LCK..") + name.replace(u'/', u'_');
    for (const QString& folder : kLockFolders) {
        QFile lock(folder + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        // "pid\nprogram\nhost\n" from Qt, "%10d\n" from uucp-style programs.
        const qint64 pid = lock.readLine().trimmed().toLongLong();
        if (pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            return programText(pid);
    }
    return {};
}

// The program with the device open, when /proc lets this user see it.
QString openedBy(const QString& path)
{
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            if (fd.symLinkTarget() == path)
                return programText(pid.toLongLong());
    }
    return {};
}

// The ttyS nodes of a PC are there whether or not a UART is behind them; one without a UART
// fails to open (EIO), or for a user outside its group fails for lack of permission first.
bool serialPortWithoutUart(const QString& path)
{
    QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(QFileInfo(path).fileName()));
    return type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0";
}

// A modem answers a question within a fraction of a second, also on a busy machine; a port with
// none behind it says nothing.
constexpr int kAnswerLimitMs = 2000;

// What the modem answers to line, up to its final result; nothing when it gives none in time.
std::optional<QString> ask(int fd, const QByteArray& line) {
    static const QRegularExpression finalResult(QStringLiteral("(^|\n)(OK|ERROR)\r?\n"));
    ::tcflush(fd, TCIFLUSH);
    if (::write(fd, line.constData(), size_t(line.size())) != line.size()) return std::nullopt;
    QByteArray answer;
    const QDeadlineTimer deadline(kAnswerLimitMs);
    pollfd readable{fd, POLLIN, 0};
    while (::poll(&readable, 1, int(deadline.remainingTime())) > 0) {
        char bytes[256];
        const ssize_t got = ::read(fd, bytes, sizeof bytes);
        if (got <= 0) break;
        answer.append(bytes, got);
        if (finalResult.match(QString::fromLatin1(answer)).hasMatch())
            return QString::fromLatin1(answer);
    }
    return std::nullopt;
}

// The three questions, at the design's speed.
std::optional<VoiceAbilities> askVoice(int fd) {
    termios line{};
    if (::tcgetattr(fd, &line) != 0) return std::nullopt;
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&line, B9600);
    ::tcsetattr(fd, TCSANOW, &line);
    const auto classes = ask(fd, "AT+FCLASS=?\r");
    if (!classes) return std::nullopt;
    VoiceAbilities voice;
    voice.takeClasses(*classes);
    if (!voice.voice) return voice;
    voice.takeFormats(ask(fd, "AT+VSM=?\r").value_or(QString()));
    voice.takeLineSelections(ask(fd, "AT+VLS=?\r").value_or(QString()));
    return voice;
}

} // namespace

PortDiagnosis::PortDiagnosis(const QString& path, Probe probe)
    : m_path(path)
{
    if (path.isEmpty() || serialPortWithoutUart(path))
        return;
    m_holder = lockHolder(path);
    if (!m_holder.isEmpty()) {
        m_state = Busy;
        return;
    }
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        if (probe == AskModem) m_voice = askVoice(fd);
        ::close(fd);
        m_state = Available;
        return;
    }
    switch (errno) {
    case EACCES:
    case EPERM:
        m_state = NoPermission;
        break;
    case EBUSY:
        m_state = Busy;
        m_holder = openedBy(path);
        break;
    default:
        // ENOENT, ENODEV, ENXIO, EIO.
        m_state = Missing;
    }
}

QString PortDiagnosis::stateText() const
{
    switch (m_state) {
    case Available:
        if (!m_voice) return QStringLiteral("可用");
        return m_voice->canRecord() ? QStringLiteral("可用 可录音 (%1)").arg(m_voice->format->name)
                                    : QStringLiteral("可用 不能录音");
    case Busy:
        return m_holder.isEmpty() ? QStringLiteral("忙") : QStringLiteral("忙 (%1)").arg(m_holder);
    case NoPermission:
        return QStringLiteral("没有权限");
    case Missing:
        break;
    }
    return QStringLiteral("不存在");
}

QString PortDiagnosis::reason(int port) const
{
    const QString device = QStringLiteral("COM%1 (%2): ").arg(port).arg(m_path);
    if (m_state == NoPermission) {
        const QString group = QFileInfo(m_path).group();
        return device
               + QStringLiteral("您没有权限使用这个设备。请把您的用户加入 %1 组: "
                                "sudo adduser $USER %1 ,然后重新登录。")
                     .arg(group.isEmpty() ? QStringLiteral("dialout") : group);
    }
    if (m_state != Busy)
        return {};
    const QString hint = QStringLiteral(
        "要让 ModemManager 不用这个MODEM,请用 udev 规则给它设置 ID_MM_DEVICE_IGNORE。");
    if (m_holder.isEmpty())
        return device + QStringLiteral("正被其他程序占用(通常是 ModemManager)。") + hint;
    const QString held = device + QStringLiteral("正被程序 %1 占用。").arg(m_holder);
    return m_holder.startsWith(kModemManager) ? held + hint : held;
}

QStringList PortDiagnosis::unusableModems()
{
    QStringList reasons;
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        if (const QString why = PortDiagnosis(commPortPath(port)).reason(port); !why.isEmpty())
            reasons << why;
    }
    return reasons;
}

} // namespace tova
