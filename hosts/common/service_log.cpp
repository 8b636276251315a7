// The service calls a filter made, recorded for tests.
#include "common/service_log.h"

namespace q5host {

ServiceLog::ServiceLog(Host &host) : host_(host) { host_.setObserver(this); }

ServiceLog::~ServiceLog() {
    if (host_.observer() == this) host_.setObserver(nullptr);
}

std::vector<int> ServiceLog::fetchedFrames() const {
    std::vector<int> frames;
    for (const ServiceCall &call : calls_)
        if (call.kind == ServiceCall::Fetch) frames.push_back(call.a);
    return frames;
}

}  // namespace q5host
