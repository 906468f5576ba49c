#include "TestPattern.h"

namespace pellux {

QByteArray FillTestPattern() {
    QByteArray pattern(TestPatternSize, Qt::Uninitialized);
    char value = ' ';
    for (char& byte : pattern) {
        byte = value;
        if (++value > '~') value = ' ';
    }
    return pattern;
}

}  // namespace pellux
