#include "ProgressThrottle.h"

#include <algorithm>

namespace morven {

void ProgressThrottle::Reset(int maximum, int widthPixels, int shownValue) {
    maximum_ = maximum;
    widthPixels_ = std::max(widthPixels, 1);
    shownPixels_ = FilledPixels(shownValue);
}

bool ProgressThrottle::Passes(int value) {
    const int filled = FilledPixels(value);
    if (filled == shownPixels_ && value != 0 && value != maximum_) return false;
    shownPixels_ = filled;
    return true;
}

int ProgressThrottle::FilledPixels(int value) const {
    if (maximum_ <= 0) return 0;
    return static_cast<int>(static_cast<long long>(std::clamp(value, 0, maximum_)) * widthPixels_ /
                            maximum_);
}

}  // namespace morven
