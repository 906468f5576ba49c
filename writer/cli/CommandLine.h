#pragma once

#include <QCommandLineParser>
#include <QString>
#include <variant>

#include "PortChoice.h"
#include "write/Serialization.h"
#include "write/WriteJob.h"

namespace morven {

struct CliOptions {
    bool listPorts = false;
    bool quiet = false;
    bool check = false;   // report on FILE only: no port, no kernel
    bool strict = false;  // a file with warnings is refused
    bool json = false;    // outcomes as JSON objects on standard output
    bool noLog = false;
    QString logPath;         // empty: the default write log
    QStringList ports;       // as named; several for a gang write
    QString kernelPath;      // empty: looked up as the windows look it up
    FirmwareInput firmware;  // its path "-" for standard input
    QString recipePath;      // the station's recipe, which fixes what follows
    std::optional<SerialRule> serial;
    QByteArray approvedImageSha256;   // in hex; empty: any image
    QByteArray approvedKernelSha256;  // in hex; empty: any kernel
};

// "0x1000" in hex, "4096" in decimal; no octal surprise from a leading zero.
std::optional<quint64> ParseNumber(const QString& text);

// Fills parser with morven-cli's options and reads arguments. --help and --version print and
// end the program here. Returns the options, or the text of a usage error.
std::variant<CliOptions, QString> ParseCommandLine(QCommandLineParser& parser,
                                                   const QStringList& arguments);

}  // namespace morven
