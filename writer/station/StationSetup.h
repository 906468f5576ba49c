#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "line/PortChoice.h"
#include "line/Recipe.h"
#include "line/StationPorts.h"
#include "line/UnitNumberStanding.h"
#include "port/SerialDevices.h"
#include "serial/UnitNumberStore.h"
#include "write/WriteJob.h"

namespace morven {

// What a station has before a gang, worked out by the line's own checks: the file and kernel
// read, their approval, the strict rule, the unit numbers and the ports. Problems keep every
// board from being written; an absent port keeps only itself.
struct StationSetup {
    // The operator's words of the checks below are translated in this context.
    Q_DECLARE_TR_FUNCTIONS(StationSetup)

public:
    std::optional<WriteJob> job;
    QString imageText;   // "firmware.hex, S-record, SHA-256 0b8c2ddc03b2…, approved"
    QString kernelText;  // "zididuv.bin, SHA-256 6c1f9a3e5d7b…, approved"
    QString strictText;
    QString unitNumberText;  // "at 0x5FF00: next value 10000001, 99999999 left"
    QStringList problems;  // in the operator's words; empty when the station is ready
    QList<StationPort> ports;

    bool Ready() const { return problems.isEmpty(); }
    QList<ChosenPort> PresentPorts() const;
};

// Where the recipe's unit numbers stand (taking none), or "none" without unit numbers; the
// refusal a take would meet, if any.
UnitNumberStanding StandingOfRecipeValues(const Recipe& recipe, UnitNumberStore& store);

// Reads the recipe's file and kernel and checks everything a gang needs, sending nothing and
// taking no value from store. stop() ends a read that waits for data.
StationSetup ExamineStation(const Recipe& recipe, UnitNumberStore& store,
                            const std::function<bool()>& stop);

}  // namespace morven
