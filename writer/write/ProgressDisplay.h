#pragma once

#include <QString>

namespace morven {

// The two stages whose bytes a write counts.
enum class WriteStage { Kernel, Image };

// The progress display a write drives: a maximum and a value, both counts of bytes. Each stage
// starts with its maximum.
class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void SetProgressMaximum(WriteStage stage, int maximum) = 0;
    virtual void SetProgressValue(int value) = 0;
};

}  // namespace morven
