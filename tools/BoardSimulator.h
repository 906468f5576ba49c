#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BoardProtocol.h"

// The target's side of the boot-mode write, served on the master of a pseudo-terminal whose
// slave the host opens as its serial port.
class BoardSimulator {
public:
    struct Options {
        std::string linkPath;      // made a symbolic link to the slave when set
        bool pace = false;         // every byte takes ten bit times at the line speed in force
        bool once = false;         // Serve() returns after one write
        std::string imageOutPath;  // receives the image of every write whose checksum matched
        bool keepWireLog = false;  // record every byte for WireLog(); grows with every write
        std::vector<BoardFault> faults;
    };

    explicit BoardSimulator(Options options);
    ~BoardSimulator();
    BoardSimulator(const BoardSimulator&) = delete;
    BoardSimulator& operator=(const BoardSimulator&) = delete;

    bool Open(std::string* error);
    std::string SlavePath() const;

    // Serves writes until Stop(), or with `once` until the host lets go of the line after a write.
    // Returns true when the last write ended with a matching checksum.
    bool Serve();
    // Serve() on a thread of its own; the destructor stops and joins it.
    void StartInBackground();
    // Safe from a signal handler: Serve() returns within a few milliseconds.
    void RequestStop() { stop_ = true; }
    void Stop();

    int CompletedWrites() const;
    std::vector<std::uint8_t> LastImage() const;
    std::vector<WireEvent> WireLog() const;
    void ClearWireLog();
    // Whether the board sees a host's port open, and how often it has seen one let go.
    bool HostOnLine() const { return hostConnected_; }
    int HangUps() const { return hangUps_; }

private:
    void ClosePty();
    void DropLine();
    void Deliver(std::uint8_t byte, int hostBaud, double readAt);
    void Answer(const BoardAnswer& answer, int targetBaud);
    void SendByte(std::uint8_t byte, int targetBaud, double readyAt);
    void RecordFinishedWrite();
    void Log(bool fromHost, std::uint8_t byte, int baud);
    int HostBaud() const;
    double SecondsSinceStart() const;

    Options options_;
    BoardProtocol protocol_;
    int master_ = -1;
    int linesOpened_ = 0;
    std::string slavePath_;
    std::atomic<bool> hostConnected_{false};
    std::atomic<int> hangUps_{0};
    bool hostHasSent_ = false;
    double startTime_ = 0;
    double receiveFreeAt_ = 0;  // with pace: when the wire from the host is next free
    double sendFreeAt_ = 0;     // with pace: when the wire to the host is next free
    std::atomic<bool> stop_{false};
    std::thread thread_;
    bool lastWriteMatched_ = false;

    mutable std::mutex mutex_;
    std::vector<WireEvent> wireLog_;
    std::vector<std::uint8_t> lastImage_;
    int completedWrites_ = 0;
};
