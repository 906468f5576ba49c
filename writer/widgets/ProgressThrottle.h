#pragma once

namespace morven {

// Decides which progress values are worth passing on to a bar: only those that change its
// filled width in device pixels. A full-image write makes thousands of progress calls, and
// every bar update costs a repaint and, with assistive technology on, a message on its bus.
class ProgressThrottle {
public:
    // A new maximum for a bar widthPixels wide, currently showing shownValue.
    void Reset(int maximum, int widthPixels, int shownValue);
    // True when the bar is to show value: its filled width changes, or value is 0 or the
    // maximum, which are always shown.
    bool Passes(int value);

private:
    int FilledPixels(int value) const;

    int maximum_ = 100;
    int widthPixels_ = 1;
    int shownPixels_ = -1;
};

}  // namespace morven
