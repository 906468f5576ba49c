#pragma once

#include <QString>

#include "write/WriteJob.h"

namespace morven {

// The line a script reads last, on standard output.
void PrintOutcome(const QString& text);
// A word for the operator, on standard error, after the program's name.
void PrintError(const QString& text);

// A signal came: the wait it is given to ends, and nothing more is begun.
bool StopRequested();
// Every port is closed by now; the process ends by the signal, as a shell expects.
[[noreturn]] void Interrupted();

// A refusal before anything was sent: its words on standard error, except for the outcomes
// whose text has always been the last line on standard output. Returns its status.
int Refuse(const WriteRefusal& refusal, const QString& kernelPath);

}  // namespace morven
