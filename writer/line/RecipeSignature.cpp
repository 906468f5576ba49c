#include "RecipeSignature.h"

#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <cerrno>

#include "InterruptSignals.h"

namespace morven {

namespace {

// By its full path, with an environment of its own: a PATH of the user's choosing would pick
// the program that judges the signature.
constexpr char SshKeygen[] = "/usr/bin/ssh-keygen";
constexpr int RunLimitMs = 10000;
// How long a wait lasts before it looks for a signal again.
constexpr int WaitStepMs = 50;
// A signature is a few hundred bytes; what ssh-keygen says, a few lines.
constexpr qint64 SignatureLimit = 64 * 1024;
constexpr qsizetype SaidLimit = 4096;

QString AllowedSigners() { return QString::fromLatin1(AllowedSignersPath); }

struct Said {
    bool ran = false;  // it ran to its end, and exit is its status
    int exit = -1;
    QString out;
    QString err;  // or why it did not run to its end
};

Said RunSshKeygen(const QStringList& arguments, const QByteArray& input) {
    QProcess process;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.start(QString::fromLatin1(SshKeygen), arguments);
    Said said;
    if (!process.waitForStarted(RunLimitMs)) {
        said.err = QStringLiteral("%1 cannot be run (%2)")
                       .arg(QString::fromLatin1(SshKeygen), process.errorString());
        return said;
    }
    process.write(input);
    process.closeWriteChannel();
    const QDeadlineTimer deadline(RunLimitMs);
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(WaitStepMs)) {
        if (InterruptSignals::Received() == 0 && !deadline.hasExpired()) continue;
        process.kill();
        process.waitForFinished(RunLimitMs);
        said.err = InterruptSignals::Received() != 0
                       ? QStringLiteral("its check was interrupted")
                       : QStringLiteral("ssh-keygen gave no answer within %1 s, and was stopped")
                             .arg(RunLimitMs / 1000);
        return said;
    }
    said.ran = process.exitStatus() == QProcess::NormalExit;
    said.exit = process.exitCode();
    said.out = QString::fromLocal8Bit(process.readAllStandardOutput().left(SaidLimit)).trimmed();
    said.err = QString::fromLocal8Bit(process.readAllStandardError().left(SaidLimit)).trimmed();
    if (!said.ran) said.err = QStringLiteral("ssh-keygen crashed");
    return said;
}

// ssh-keygen's own last words, for a reason this code does not put in its own.
QString InItsWords(const Said& said) {
    const QStringList lines = said.err.split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QStringLiteral("ssh-keygen ended with status %1").arg(said.exit)
                           : QStringLiteral("ssh-keygen: ") + lines.last();
}

// Why the key that made the signature is no principal's in the allowed signers.
QString UnlistedReason(const Said& said) {
    if (said.err.contains(QLatin1String("expired")) ||
        said.err.contains(QLatin1String("not yet valid")))
        return QStringLiteral("its signer's key in %1 is not valid now (%2)")
            .arg(AllowedSigners(), said.err.split(u'\n').first());
    if (said.err.contains(QLatin1String("Couldn't parse signature")))
        return QStringLiteral("its signature is not an SSH signature (") + InItsWords(said) + u')';
    if (said.err.contains(QLatin1String("Unable to open allowed keys")))
        return QStringLiteral("the station's %1 cannot be read").arg(AllowedSigners());
    return QStringLiteral("it is signed by a key that %1 does not list").arg(AllowedSigners());
}

QString UnverifiedReason(const Said& said) {
    if (said.err.contains(QLatin1String("namespace")))
        return QStringLiteral("it is signed for another use, not for the namespace %1")
            .arg(QString::fromLatin1(RecipeNamespace));
    if (said.err.contains(QLatin1String("incorrect signature")))
        return QStringLiteral("it was changed after it was signed");
    return InItsWords(said);
}

// Anyone who may write the allowed signers may release anything.
QString UnsafeAllowedSigners(const struct stat& status) {
    if (!S_ISREG(status.st_mode) || status.st_uid != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)))
        return QStringLiteral("the station's %1 is not a file of root's that only root may write")
            .arg(AllowedSigners());
    return {};
}

// Why the signature does not pass, or, when it does, the empty text and its signer.
QString Verify(const QString& recipePath, const QByteArray& text, QString* signer) {
    struct stat status {};
    if (::stat(AllowedSignersPath, &status) != 0)
        return QStringLiteral("the station's %1 cannot be read").arg(AllowedSigners());
    if (const QString unsafe = UnsafeAllowedSigners(status); !unsafe.isEmpty()) return unsafe;
    const QString signaturePath = recipePath + QStringLiteral(".sig");
    QFile signatureFile(signaturePath);
    if (!signatureFile.open(QIODevice::ReadOnly))
        return QStringLiteral("it is not signed (no %1 beside it)").arg(signaturePath);
    // ssh-keygen is given a copy: the signature checked is the one read, whatever then
    // happens to the file.
    QTemporaryFile signature;
    if (!signature.open() || signature.write(signatureFile.read(SignatureLimit)) < 0 ||
        !signature.flush())
        return QStringLiteral("its signature cannot be copied for the check (%1)")
            .arg(signature.errorString());
    const Said principals =
        RunSshKeygen({QStringLiteral("-Y"), QStringLiteral("find-principals"), QStringLiteral("-s"),
                      signature.fileName(), QStringLiteral("-f"), AllowedSigners()},
                     {});
    if (!principals.ran) return principals.err;
    // The first principal, as git takes it.
    const QString principal = principals.out.split(u'\n').first().trimmed();
    if (principals.exit != 0 || principal.isEmpty()) return UnlistedReason(principals);
    const Said verified = RunSshKeygen(
        {QStringLiteral("-Y"), QStringLiteral("verify"), QStringLiteral("-f"), AllowedSigners(),
         QStringLiteral("-I"), principal, QStringLiteral("-n"),
         QString::fromLatin1(RecipeNamespace), QStringLiteral("-s"), signature.fileName()},
        text);
    if (!verified.ran) return verified.err;
    if (verified.exit != 0) return UnverifiedReason(verified);
    *signer = principal;
    return {};
}

}  // namespace

QString RecipeRelease::Text() const {
    if (!checked)
        return QStringLiteral("not checked for a signature (this station has no %1)")
            .arg(AllowedSigners());
    if (Refused()) return QStringLiteral("refused: ") + reason;
    return signer + QStringLiteral(" (a good signature, namespace %1, a signer in %2)")
                        .arg(QString::fromLatin1(RecipeNamespace), AllowedSigners());
}

QString RecipeRelease::RefusalText(const QString& recipePath) const {
    return QStringLiteral("The recipe ") + recipePath + QStringLiteral(" is not released: ") +
           reason + QStringLiteral(". Nothing was sent.");
}

RecipeRelease CheckRecipeSignature(const QString& recipePath, const QByteArray& text) {
    struct stat status {};
    // Only a station without the file writes unsigned recipes; one it cannot look at refuses.
    if (::lstat(AllowedSignersPath, &status) != 0 && errno == ENOENT) return {};
    RecipeRelease release{true, {}, {}};
    release.reason = Verify(recipePath, text, &release.signer);
    return release;
}

}  // namespace morven
