#include "GangTable.h"

#include <algorithm>

namespace morven {

QString GangTable(const QList<StationPort>& ports, const QList<WriteResult>& results) {
    const QStringList heading{QStringLiteral("port"), QStringLiteral("device"),
                              QStringLiteral("adapter"), QStringLiteral("outcome"),
                              QStringLiteral("seconds")};
    QList<QStringList> rows{heading};
    qsizetype written = 0;
    for (const StationPort& port : ports) {
        if (!port.Present()) {
            rows << QStringList{port.name, port.chosen ? port.chosen->device : QStringLiteral("-"),
                                QStringLiteral("-"), QStringLiteral("absent: ") + port.absence,
                                QStringLiteral("-")};
            continue;
        }
        const WriteResult& result = results[written++];
        const QString adapterSerial = result.board.device.adapterSerial;
        rows << QStringList{result.board.name, result.board.device.device,
                            adapterSerial.isEmpty() ? QStringLiteral("-") : adapterSerial,
                            result.text, QString::number(result.seconds, 'f', 2)};
    }
    QList<qsizetype> widths(heading.size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    QString table;
    for (qsizetype line = 0; line < rows.size(); ++line) {
        for (qsizetype column = 0; column + 1 < heading.size(); ++column)
            table += rows[line][column].leftJustified(widths[column]) + QStringLiteral("  ");
        table += line == 0 ? rows[line].last() : rows[line].last().rightJustified(7);
        table += QLatin1Char('\n');
    }
    return table;
}

}  // namespace morven
