#pragma once

#include <QCommandLineParser>
#include <QString>
#include <variant>

#include "line/Recipe.h"

namespace morven {

struct CliOptions {
    bool listPorts = false;
    bool quiet = false;
    bool check = false;  // report on FILE only: no port, no kernel
    bool json = false;   // outcomes as JSON objects on standard output
    bool noLog = false;
    int remoteFormat = 0;  // --remote-write FORMAT: the remote end of an ssh:// write
    Recipe station;  // --recipe FILE, or made of the options that name the file, ports, ...
    QString loadList;  // --serial-load-list: the list file to load,
    QString loadInto;  // into this database,
    UnitNumberFormat loadFormat;  // its values checked against this
    bool makeCounter = false;     // --serial-make-counter: station.unitNumberRule's counter made
};

// Fills parser with morven-cli's options and reads arguments. --help and --version print and
// end the program here. Returns the options, or the text of a usage error.
std::variant<CliOptions, QString> ParseCommandLine(QCommandLineParser& parser,
                                                   const QStringList& arguments);

}  // namespace morven
