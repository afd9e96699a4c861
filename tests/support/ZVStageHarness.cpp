#include "support/ZVStageHarness.h"

#include "support/ZVTestSupport.h"

namespace zvtest {

bool RecordingDestination::canAcceptObject() {
    bool accepting;
    {
        std::lock_guard<std::mutex> g(_lock);
        accepting = _accepting;
    }
    if (accepting && _next) accepting = _next->canAcceptObject();
    if (!accepting) {
        std::lock_guard<std::mutex> g(_lock);
        ++_refusals;
    }
    return accepting;
}

void RecordingDestination::addObject(ZVObjectRef object) {
    {
        std::lock_guard<std::mutex> g(_lock);
        _objects.push_back(keep ? keep(object) : object);
        _times.push_back(ZVAbsoluteTimeGetCurrent());
    }
    if (onAdd) onAdd(object);
    if (_next) _next->addObject(std::move(object));
}

void RecordingDestination::setAccepting(bool accepting) {
    std::lock_guard<std::mutex> g(_lock);
    _accepting = accepting;
}

std::vector<ZVObjectRef> RecordingDestination::objects() {
    std::lock_guard<std::mutex> g(_lock);
    return _objects;
}

std::vector<double> RecordingDestination::arrivalTimes() {
    std::lock_guard<std::mutex> g(_lock);
    return _times;
}

size_t RecordingDestination::count() {
    std::lock_guard<std::mutex> g(_lock);
    return _objects.size();
}

int RecordingDestination::refusals() {
    std::lock_guard<std::mutex> g(_lock);
    return _refusals;
}

bool RecordingDestination::waitForMore(size_t n, double seconds) {
    const size_t target = count() + n;
    return eventually([&] { return count() >= target; }, seconds);
}

}  // namespace zvtest
