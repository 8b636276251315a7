// A test tool: the record of every service call a filter makes through a host, in
// order, for the tests and the test hosts to check. Nothing records unless a log is
// attached; the command never attaches one.
#pragma once

#include <vector>

#include "common/host.h"

namespace q5host {

class ServiceLog : public HostObserver {
public:
    /// Attaches to `host` until destroyed.
    explicit ServiceLog(Host &host);
    ~ServiceLog();
    ServiceLog(const ServiceLog &) = delete;
    ServiceLog &operator=(const ServiceLog &) = delete;

    const std::vector<ServiceCall> &calls() const { return calls_; }
    void clear() { calls_.clear(); }
    /// The frames fetched, in order.
    std::vector<int> fetchedFrames() const;

    void serviceCalled(const ServiceCall &call) override { calls_.push_back(call); }

private:
    Host &host_;
    std::vector<ServiceCall> calls_;
};

}  // namespace q5host
