#pragma once

#include <QString>

namespace morven {

// "baud,parity,data bits,stop bits", e.g. "57600,N,8,1", as numbers a port can apply.
struct LineSettings {
    enum class Parity { None, Even, Odd };

    int baud = 19200;
    Parity parity = Parity::None;
    int dataBits = 8;
    int stopBits = 1;

    static LineSettings Parse(const QString& text);
};

}  // namespace morven
