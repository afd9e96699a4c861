#pragma once
// A harness for one stage: a scripted source to feed it and a recording destination to
// see what it made, so each stage's loop can be tested deterministically beside the tests
// against real servers.
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "Zorvan.h"

namespace zvtest {

// A queue object of a given size that remembers its sequence number.
class Token : public ZVQueueObject {
public:
    Token(int seq, int64_t size) : seq(seq), size(size) {}
    int64_t dataSize() const override { return size; }
    const int seq;
    const int64_t size;
};

// Hands out what the test pushed, oldest first. Any thread.
class ScriptedSource : public ZVDataSource {
public:
    void push(ZVObjectRef object);
    ZVObjectRef nextObject() override;
    size_t remaining();

private:
    std::mutex _lock;  // guards _objects
    std::deque<ZVObjectRef> _objects;
};

// Records what it is given; refuses while `accepting` is false. Any thread.
class RecordingDestination : public ZVDataDestination {
public:
    bool canAcceptObject() override;
    void addObject(ZVObjectRef object) override;
    void setAccepting(bool accepting);
    std::vector<ZVObjectRef> objects();
    size_t count();
    // Called after each recorded object, on the adding thread.
    std::function<void(const ZVObjectRef&)> onAdd;

private:
    std::mutex _lock;  // guards _objects and _accepting
    std::vector<ZVObjectRef> _objects;
    bool _accepting = true;
};

}  // namespace zvtest
