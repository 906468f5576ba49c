#include "CommandLine.h"

#include <QDir>
#include <optional>

#include "ExitStatusHelp.h"
#include "line/PortChoice.h"
#include "serial/DatabaseConnection.h"

namespace morven {

namespace {

constexpr const char* Description =
    R"(Writes a program into the board's flash through its serial boot mode, as
MORVEN's "Write" button does. The outcome is the last line on standard output,
in the words the message box would show; progress and everything else go to
standard error.

PORT is COM1 to COM10 or 1 to 10 (port n opens MORVEN_COMn, else /dev/ttyS(n-1)),
a device path such as /dev/ttyUSB0 or /dev/serial/by-id/..., serial:NUMBER (the
adapter's serial number, as --list-ports shows it), rfc2217://HOST:PORT, a
serial port served on another machine (ser2net), or
ssh://[USER@]HOST[:PORT]/DEVICE, a board written on its own machine by the
morven-cli there, started through ssh (MORVEN_SSH_COMMAND, default ssh); HOST is
a name, an IPv4 address or [IPv6]. Name several ports to write the same file to
every board at once: a table on standard output then gives each port's outcome.
Without --port, the one USB serial adapter present is used.

Every write appends a JSON line to $XDG_STATE_HOME/morven/writes.jsonl (by default
~/.local/state/morven/writes.jsonl) the moment it ends: time, host, port, device,
adapter, file, format, N, SHA-256, serial value, outcome, status and seconds; and
sends the same to the systemd journal where one runs.

FILE is an S-record, Intel HEX or ELF file, told by its content (a first character
S, a first character ':', the ELF magic number), or raw binary with --binary-at.
It may be - for standard input. The whole file is read and checked before the port
is opened: a file that stores no data byte in the image, a malformed Intel HEX
file and a broken ELF file are refused (status 11); in S-record files, bad
checksums and malformed lines, and in every format, bytes at 0x60000 and above and
bytes written twice are warned of on standard error and written as they load
(refused with --strict).)";

// A write whose row the line's database may not take must stay on record here until a later
// run updates the row from it.
std::optional<QString> Unrecorded(const CliOptions& options) {
    if (!options.noLog || !options.station.unitNumberRule ||
        !DatabaseConnection::IsUri(options.station.unitNumberRule->statePath))
        return std::nullopt;
    return QStringLiteral(
        "--no-log cannot be given with a database's serial values: a write "
        "is kept in the log until its row is updated");
}

}  // namespace

std::variant<CliOptions, QString> ParseCommandLine(QCommandLineParser& parser,
                                                   const QStringList& arguments) {
    parser.setApplicationDescription(QString::fromLatin1(Description) + QStringLiteral("\n\n") +
                                     QString::fromLatin1(ExitStatusHelp));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port({"p", "port"}, "A serial port to write; may be repeated.",
                                  "PORT");
    const QCommandLineOption kernel({"k", "kernel"}, "The kernel file to download.", "FILE");
    const QCommandLineOption quiet({"q", "quiet"}, "No progress on standard error.");
    const QCommandLineOption listPorts("list-ports",
                                       "List COM1 to COM10 and the serial ports of the system.");
    const QCommandLineOption check(
        "check", "Read FILE and print what it holds and what a write would send; no port.");
    const QCommandLineOption strict("strict", "Refuse a file that has warnings (status 11).");
    const QCommandLineOption json(
        "json", "Print each port's outcome (or --list-ports) as JSON on standard output.");
    const QCommandLineOption log("log", "Append the write records to FILE.", "FILE");
    const QCommandLineOption noLog("no-log", "Record nothing.");
    const QCommandLineOption binaryAt(
        "binary-at", "Read FILE as raw binary placed from ADDR (0x... or decimal).", "ADDR");
    const QCommandLineOption recipe(
        "recipe",
        "Write what the station's recipe FILE fixes: the approved image and kernel, the ports "
        "(an absent one is skipped, taking no value), the serial numbers and whether warnings "
        "refuse; with --check, whether the station is ready, every port on another machine "
        "reached. Where /etc/morven/allowed_signers exists, only a recipe with a good signature "
        "(FILE.sig, ssh-keygen -Y sign -n morven-recipe) by a signer listed there is written.",
        "FILE");
    const QCommandLineOption serialAt("serial-at", "Write a value unique to each board at ADDR.",
                                      "ADDR");
    const QCommandLineOption serialFormat(
        "serial-format",
        "How the value is written: le:N or be:N (N bytes), dec:N or hex:N (N characters), "
        "bytes:N (from a list). Default le:4.",
        "FORMAT");
    const QCommandLineOption serialStart("serial-start", "The counter's first value (default 1).",
                                         "N");
    const QCommandLineOption serialStep("serial-step", "The counter's step (default 1).", "N");
    const QCommandLineOption serialList(
        "serial-list", "Take the values from FILE, one a line, in order, not from a counter.",
        "FILE");
    const QCommandLineOption serialState(
        "serial-state",
        "The counter's state (or how far the list is taken); default "
        "$XDG_STATE_HOME/morven/serial-counter (serial-list-NAME for a list). A line's database "
        "instead: postgresql://HOST/DB#NAME, NAME the counter or list (default: counter, or the "
        "list's file name).",
        "FILE");
    const QCommandLineOption serialLoadList(
        "serial-load-list",
        "Load the list FILE, its values checked against --serial-format, into the line's "
        "database that --serial-state names, once; load it again after lines were appended.",
        "FILE");
    const QCommandLineOption serialMakeCounter(
        "serial-make-counter",
        "Make the counter that --serial-state names (postgresql://HOST/DB#NAME) in the line's "
        "database, with the rule of --serial-at, --serial-format, --serial-start and "
        "--serial-step: its first value, step and largest; once, by the line's lead, before any "
        "station takes from it.");
    // Started through ssh by another morven-cli, never by hand.
    QCommandLineOption remoteWrite("remote-write", "Serve a write from another machine.", "FORMAT");
    remoteWrite.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(remoteWrite);
    parser.addOptions({port, kernel, quiet, check, strict, json, log, noLog, binaryAt, recipe,
                       serialAt, serialFormat, serialStart, serialStep, serialList, serialState,
                       serialLoadList, serialMakeCounter, listPorts});
    parser.addPositionalArgument(
        "FILE", "The S-record, Intel HEX or ELF file to write, or - for standard input.");

    if (!parser.parse(arguments)) return parser.errorText();
    if (parser.isSet(help)) parser.showHelp(0);
    if (parser.isSet(version)) parser.showVersion();

    CliOptions options;
    if (parser.isSet(remoteWrite)) {
        options.remoteFormat = parser.value(remoteWrite).toInt();
        if (options.remoteFormat <= 0) return QStringLiteral("bad --remote-write format");
        // With --check: only whether the --port device is there, for a station's check.
        options.check = parser.isSet(check);
        options.station.ports = parser.values(port);
        return options;
    }
    options.listPorts = parser.isSet(listPorts);
    options.quiet = parser.isSet(quiet);
    options.check = parser.isSet(check);
    Recipe& station = options.station;
    station.strict = parser.isSet(strict);
    options.json = parser.isSet(json);
    options.noLog = parser.isSet(noLog);
    station.logPath = parser.value(log);
    station.ports = parser.values(port);
    station.kernelPath = parser.value(kernel);
    for (const QString& name : station.ports)
        if (const auto parsed = ParsePortArgument(name); std::holds_alternative<QString>(parsed))
            return std::get<QString>(parsed);
    const QStringList files = parser.positionalArguments();
    if (options.listPorts) return options;
    if (options.check && options.json)
        return QStringLiteral("--json is for the writes' outcomes and --list-ports, not --check");
    if (parser.isSet(serialLoadList)) {
        options.loadList = parser.value(serialLoadList);
        options.loadInto = parser.value(serialState);
        if (!DatabaseConnection::IsUri(options.loadInto))
            return QStringLiteral("--serial-load-list needs --serial-state postgresql://…");
        if (DatabaseConnection::HasPassword(options.loadInto))
            return QStringLiteral("no password in the URI ") +
                   DatabaseConnection::Shown(options.loadInto) +
                   QStringLiteral("; libpq finds it in ~/.pgpass, PGPASSFILE or a service file");
        if (!files.isEmpty() || parser.isSet(recipe) || parser.isSet(serialAt))
            return QStringLiteral("--serial-load-list loads a list, and writes nothing");
        if (parser.isSet(serialFormat)) {
            auto format = UnitNumberFormat::Parse(parser.value(serialFormat));
            if (const auto* why = std::get_if<QString>(&format))
                return QStringLiteral("bad --serial-format: ") + *why;
            options.loadFormat = std::get<UnitNumberFormat>(format);
        }
        return options;
    }
    if (parser.isSet(serialMakeCounter)) {
        if (!files.isEmpty() || parser.isSet(recipe) || parser.isSet(serialList) ||
            parser.isSet(port) || parser.isSet(binaryAt))
            return QStringLiteral("--serial-make-counter makes a counter, and writes nothing");
        if (!parser.isSet(serialAt) || !DatabaseConnection::IsUri(parser.value(serialState)))
            return QStringLiteral(
                "--serial-make-counter needs the rule's --serial-at and --serial-state "
                "postgresql://…#NAME");
        options.makeCounter = true;
    }
    if (parser.isSet(recipe)) {
        // The recipe fixes what the station writes: nothing may change it from the command line.
        for (const QCommandLineOption& fixed :
             {port, kernel, strict, binaryAt, serialAt, serialFormat, serialStart, serialStep,
              serialList, serialState})
            if (parser.isSet(fixed))
                return QStringLiteral("--%1 cannot be given with --recipe, which fixes it")
                    .arg(fixed.names().last());
        if (!files.isEmpty()) return QStringLiteral("--recipe names the FILE; give none");
        if (options.noLog)
            return QStringLiteral(
                "--no-log cannot be given with --recipe: a station's writes are "
                "always recorded");
        auto read = ReadRecipe(parser.value(recipe));
        if (const auto* problem = std::get_if<QString>(&read)) return *problem;
        const QString logOption = station.logPath;
        station = std::get<Recipe>(std::move(read));
        if (station.logPath.isEmpty()) station.logPath = logOption;  // the recipe's log comes first
        return options;
    }
    if (files.isEmpty() && !options.makeCounter) return QStringLiteral("no FILE given");
    if (files.size() > 1) return QStringLiteral("one FILE only, not %1").arg(files.size());
    station.firmware.path = files.value(0);
    if (parser.isSet(binaryAt)) {
        const auto address = ParseNumber(parser.value(binaryAt));
        if (!address || *address > 0xFFFFFFFFu)
            return QStringLiteral("bad --binary-at '") + parser.value(binaryAt) +
                   QStringLiteral("': give an address such as 0x1000 or 4096");
        station.firmware.binaryAt = static_cast<std::uint32_t>(*address);
    }
    if (!parser.isSet(serialAt)) {
        for (const QCommandLineOption& serial :
             {serialFormat, serialStart, serialStep, serialList, serialState})
            if (parser.isSet(serial))
                return QStringLiteral("--%1 needs --serial-at").arg(serial.names().last());
        return options;
    }
    const auto named = [&parser](const QCommandLineOption& option) {
        return NamedSetting{QStringLiteral("--") + option.names().last(), parser.value(option)};
    };
    auto rule = MakeUnitNumberRule({named(serialAt), named(serialFormat), named(serialStart),
                                    named(serialStep), named(serialList), named(serialState)},
                                   QDir::currentPath(),
                                   DefaultUnitNumberStatePath(parser.value(serialList)));
    if (const auto* problem = std::get_if<QString>(&rule)) return *problem;
    station.unitNumberRule = std::get<UnitNumberRule>(rule);
    if (const auto problem = Unrecorded(options)) return *problem;
    return options;
}

}  // namespace morven
