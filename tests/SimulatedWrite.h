#pragma once
// A write through the real QSerialPort on the simulated board's pty.

#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "BoardSimulator.h"
#include "port/SerialPort.h"
#include "write/WriteFlow.h"
#include "record/WriteRecord.h"

// The simulated board's fault written as on board-sim's command line; none for "".
inline std::vector<BoardFault> Faults(const QString& text) {
    if (text.isEmpty()) return {};
    std::string error;
    const auto fault = ParseBoardFault(text.toStdString(), &error);
    if (!fault) qFatal("bad fault %s: %s", qPrintable(text), error.c_str());
    return {*fault};
}

// S-record text holding `data` from address 0, in S3 records of up to 32 bytes.
inline QByteArray SRecordsFor(const QByteArray& data) {
    QByteArray text;
    for (qsizetype at = 0; at < data.size(); at += 32) {
        const QByteArray chunk = data.mid(at, 32);
        text += "S3" + QByteArray::number(chunk.size() + 5, 16).rightJustified(2, '0').toUpper() +
                QByteArray::number(at, 16).rightJustified(8, '0').toUpper() +
                chunk.toHex().toUpper() + "00\n";
    }
    return text;
}

// One Intel HEX record: count, address, type, data and the checksum that makes them sum to 0.
inline QByteArray IntelHexRecord(int type, int address, const QByteArray& data) {
    const QByteArray record =
        QByteArray(1, char(data.size())) + char(address >> 8) + char(address) + char(type) + data;
    quint8 sum = 0;
    for (const char byte : record) sum = quint8(sum + quint8(byte));
    return ':' + (record + char(-sum)).toHex().toUpper() + '\n';
}

struct RecordingProgress : morven::ProgressDisplay {
    QList<int> values;
    QList<int> maximums;
    void SetProgressMaximum(morven::WriteStage, int value) override { maximums << value; }
    void SetProgressValue(int value) override { values << value; }
};

// What the operator was told: a refusal's words or the write's outcome text.
struct RecordingMessages {
    QStringList texts;
};

// A simulated board on COM1, a kernel file and an S-record file in a temporary folder.
class SimulatedWrite {
public:
    explicit SimulatedWrite(std::vector<BoardFault> faults = {}) {
        board_ = std::make_unique<BoardSimulator>(
            BoardSimulator::Options{.keepWireLog = true, .faults = std::move(faults)});
        std::string error;
        if (!board_->Open(&error)) qFatal("board-sim: %s", error.c_str());
        board_->StartInBackground();
        qputenv("MORVEN_COM1", QByteArray::fromStdString(board_->SlavePath()));
        kernelPath = dir_.filePath("zididuv.bin");
        SetKernel(QByteArray(16, '\x5A'));
        sRecordPath = dir_.filePath("program.mot");
        SetSRecords("S1050000123400\n");
    }

    BoardSimulator& Board() { return *board_; }
    QString FilePath(const QString& name) const { return dir_.filePath(name); }

    void SetKernel(const QByteArray& bytes) const { WriteFile(kernelPath, bytes); }
    void SetSRecords(const QByteArray& text) const { WriteFile(sRecordPath, text); }

    // What the Write button does: the file and kernel read, then the one write flow on COM1,
    // recorded in the write log.
    morven::WriteOutcome Run() {
        auto prepared =
            morven::PrepareWrite({sRecordPath, std::nullopt}, kernelPath, [] { return false; });
        if (const auto* refusal = std::get_if<morven::WriteRefusal>(&prepared)) {
            messages.texts << refusal->text;
            return refusal->outcome;
        }
        morven::SerialPort port;
        morven::SerialLink link(port);
        port.SelectPort(1);
        morven::WriteLog log(FilePath("writes.jsonl"),
                             [](const QString& warning) { QFAIL(qPrintable(warning)); });
        const morven::WriteResult result =
            morven::WriteFlow(link, {QStringLiteral("COM1"), {}}, progress, &log)
                .Run(std::get<morven::WriteJob>(prepared));
        if (!result.Cancelled()) messages.texts << result.text;
        return result.outcome;
    }

    QByteArray HostBytes(int baud = 0) const {
        QByteArray bytes;
        for (const WireEvent& event : board_->WireLog())
            if (event.fromHost && (baud == 0 || event.baud == baud))
                bytes.append(static_cast<char>(event.byte));
        return bytes;
    }

    static void WriteFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    QString kernelPath;
    QString sRecordPath;
    RecordingProgress progress;
    RecordingMessages messages;

private:
    QTemporaryDir dir_;
    std::unique_ptr<BoardSimulator> board_;
};
