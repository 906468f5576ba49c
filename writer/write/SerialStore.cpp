#include "SerialStore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
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

IssueContext IssueContext::OfThisProcess(const QString& recipePath, const QStringList& arguments,
                                         const QString& recipeSigner) {
    IssueContext context{QSysInfo::machineHostName(), UserName(), {}, {}, {}, recipeSigner};
    if (recipePath.isEmpty()) {
        context.command = arguments.join(QLatin1Char(' '));
        return context;
    }
    context.recipePath = QFileInfo(recipePath).absoluteFilePath();
    QFile recipe(recipePath);
    // A recipe is a few lines: the limit only bounds the read.
    if (recipe.open(QIODevice::ReadOnly))
        context.recipeSha256 =
            QCryptographicHash::hash(recipe.read(qint64(1) << 20), QCryptographicHash::Sha256)
                .toHex();
    return context;
}

WriteRefusal SerialRefusal(const QString& why) {
    return {WriteOutcome::SerialRefused,
            QStringLiteral("No serial values: ") + why + QStringLiteral(". Nothing was sent.")};
}

}  // namespace morven
