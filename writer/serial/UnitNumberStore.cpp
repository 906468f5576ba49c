#include "UnitNumberStore.h"

#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace morven {

namespace {

QString UserName() {
#ifdef Q_OS_UNIX
    const uid_t uid = ::geteuid();
    const passwd* entry = ::getpwuid(uid);
    QString name = entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
    const QString sudoUser = qEnvironmentVariable("SUDO_USER");
    if (uid == 0 && !sudoUser.isEmpty()) name += QStringLiteral(" (sudo from %1)").arg(sudoUser);
    return name;
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

}  // namespace

IssueContext IssueContext::OfThisProcess() {
    return {QSysInfo::machineHostName(), UserName(), {}, {}, {}, {}};
}

WriteRefusal UnitNumberRefusal(const QString& why) {
    return {WriteOutcome::UnitNumbersRefused,
            QStringLiteral("No serial values: ") + why + QStringLiteral(". Nothing was sent.")};
}

}  // namespace morven
