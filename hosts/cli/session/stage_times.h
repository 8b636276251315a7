// Where a run's time went (--stats): wall time, and the CPU time of every thread of
// the process, which a busy machine inflates less.
#pragma once

#include <initializer_list>

namespace q5cli {

struct StageTime {
    double wall = 0, cpu = 0;  // seconds
    void add(const StageTime &o) { wall += o.wall, cpu += o.cpu; }
    StageTime minus(const StageTime &o) const { return {wall - o.wall, cpu - o.cpu}; }
};

/// Over a whole run.
struct StageTimes {
    StageTime read;      // y4m frames read from the input
    StageTime toYc48;    // YUV to YC48, into the host's frame cache
    StageTime host;      // the host's own work: frame cache, copies, call set-up
    StageTime filter;    // the filter's func_proc, less the frames it had converted
    StageTime fromYc48;  // YC48 back to YUV
    StageTime write;     // y4m frames written to the output
    StageTime outside() const {
        StageTime t = read;
        for (const StageTime *s : {&toYc48, &host, &fromYc48, &write}) t.add(*s);
        return t;
    }
};

/// Both clocks now.
StageTime stageClock();
/// The time from `start` to now.
StageTime since(const StageTime &start);

/// Adds the time of the enclosing scope to a total (or nothing without one).
class StageTimer {
public:
    explicit StageTimer(StageTime *total) : total_(total), start_(total ? stageClock() : StageTime{}) {}
    ~StageTimer() {
        if (total_) total_->add(since(start_));
    }
    StageTimer(const StageTimer &) = delete;
    StageTimer &operator=(const StageTimer &) = delete;

private:
    StageTime *total_;
    StageTime start_;
};

}  // namespace q5cli
