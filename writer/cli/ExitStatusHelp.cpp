#include "ExitStatusHelp.h"

namespace morven {

const char* const ExitStatusHelp = R"(Exit status:
  0    O.K.
  2    usage error (unknown option, no FILE, bad PORT, standard input a terminal,
       an unknown or missing recipe setting)
  3    Err 1 (no answer to the wake-up bytes, or no or a wrong answer to 0x55)
  4    Time Out Farm Err
  5    Farm Err
  6    kernel file missing, empty or too long
  7    Time Out S File Err
  8    S File Err
  9    the port cannot be opened (or its adapter is not plugged in), is busy, or
       failed during the write
  10   the file cannot be read (missing, a folder, a device, over 64 MiB)
  11   the file is refused: nothing to write, malformed (Intel HEX, ELF), warnings
       under --strict, not the image or kernel the recipe approves, or no serial
       values (none left, data where they go, a serial state that is unreadable,
       empty, garbled or of another rule, a list that changed)
  12   several ports, and not every write ended "O.K." (the table says which)
  14   the line's database of serial values cannot be reached or did not answer in
       time (nothing was sent; try again later)
  15   the line's database refused the station's login (nothing was sent; trying
       again cannot help until the role or its password is fixed)
  130  killed by SIGINT (143 SIGTERM, 129 SIGHUP), after every port was closed)";

}  // namespace morven
