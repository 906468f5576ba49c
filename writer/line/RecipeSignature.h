#pragma once

#include <QByteArray>
#include <QString>

namespace morven {

// Where a station lists who may release its recipes (OpenSSH's allowed-signers format). Fixed:
// nothing a user at the station sets moves it or turns the check off.
inline constexpr char AllowedSignersPath[] = "/etc/morven/allowed_signers";
// The namespace a release engineer signs a recipe in: ssh-keygen -Y sign -n morven-recipe.
inline constexpr char RecipeNamespace[] = "morven-recipe";

// Who released a recipe, as the station's allowed signers tell it.
struct RecipeRelease {
    bool checked = false;  // the station has allowed signers, so only a good signature passes
    QString signer;        // the principal that signed the recipe; empty unless it passed
    QString reason;        // why it did not pass; empty unless refused

    bool Refused() const { return !reason.isEmpty(); }
    // As --check --recipe and the station's header say it.
    QString Text() const;
    // A write's refusal of the recipe at recipePath, naming it and the reason.
    QString RefusalText(const QString& recipePath) const;
};

// The signature of text, the recipe's bytes as they were read from recipePath, checked by
// ssh-keygen against its recipePath.sig, the namespace and the allowed signers (each run bounded
// in time, and ended by a signal). Unchecked when the station has no allowed signers.
RecipeRelease CheckRecipeSignature(const QString& recipePath, const QByteArray& text);

}  // namespace morven
