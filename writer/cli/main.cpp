// morven-cli: MORVEN's write from a terminal, a script or a production line.
#include <QCoreApplication>
#include <cstdio>

#include "CheckCommand.h"
#include "CommandLine.h"
#include "LeadCommand.h"
#include "PortListing.h"
#include "RemoteEnd.h"
#include "WriteCommand.h"
#include "line/ExitStatus.h"

using namespace morven;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morven-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    QCommandLineParser parser;
    const auto parsed = ParseCommandLine(parser, QCoreApplication::arguments());
    if (const auto* error = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "morven-cli: %s (see morven-cli --help)\n", qPrintable(*error));
        return ExitUsage;
    }
    const CliOptions& options = std::get<CliOptions>(parsed);
    if (options.remoteFormat > 0)
        return options.check
                   ? ServeRemoteCheck(options.remoteFormat, options.station.ports.value(0))
                   : ServeRemoteWrite(options.remoteFormat);
    if (options.listPorts) {
        std::fputs(PortListing(options.json).toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    if (options.makeCounter || !options.loadList.isEmpty()) return DoLeadWork(options);
    if (!options.check) return WriteBoards(options);
    return options.station.path.isEmpty() ? CheckFile(options) : CheckRecipe(options.station);
}
