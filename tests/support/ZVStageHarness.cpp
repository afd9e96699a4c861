#include "support/ZVStageHarness.h"

namespace zvtest {

void ScriptedSource::push(ZVObjectRef object) {
    std::lock_guard<std::mutex> g(_lock);
    _objects.push_back(std::move(object));
}

ZVObjectRef ScriptedSource::nextObject() {
    std::lock_guard<std::mutex> g(_lock);
    if (_objects.empty()) return nullptr;
    auto o = std::move(_objects.front());
    _objects.pop_front();
    return o;
}

size_t ScriptedSource::remaining() {
    std::lock_guard<std::mutex> g(_lock);
    return _objects.size();
}

bool RecordingDestination::canAcceptObject() {
    std::lock_guard<std::mutex> g(_lock);
    return _accepting;
}

void RecordingDestination::addObject(ZVObjectRef object) {
    {
        std::lock_guard<std::mutex> g(_lock);
        _objects.push_back(object);
    }
    if (onAdd) onAdd(object);
}

void RecordingDestination::setAccepting(bool accepting) {
    std::lock_guard<std::mutex> g(_lock);
    _accepting = accepting;
}

std::vector<ZVObjectRef> RecordingDestination::objects() {
    std::lock_guard<std::mutex> g(_lock);
    return _objects;
}

size_t RecordingDestination::count() {
    std::lock_guard<std::mutex> g(_lock);
    return _objects.size();
}

}  // namespace zvtest
