#pragma once

#include <QString>

#include "write/WriteJob.h"

namespace morven {

// Why the file or the kernel was refused, briefly, as a check's verdict gives it.
QString RefusalReason(const WriteRefusal& refusal, const QString& kernelPath);

// What a check prints when the file was refused before it could be reported: its name, then
// the verdict, the line every check ends with.
QString VerdictOnly(const QString& file, const QString& verdict);

}  // namespace morven
