#pragma once

namespace morven {

struct WriteJob;
struct WriteResult;

// Where a write's end goes on record: told by the flow before its result is returned, and so
// before anyone is told.
class WriteRecorder {
public:
    virtual ~WriteRecorder() = default;
    virtual void Record(const WriteJob& job, const WriteResult& result) = 0;
};

}  // namespace morven
