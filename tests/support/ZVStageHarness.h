#pragma once
// A harness for one stage: a scripted source to feed it and a recording destination to
// see what it made, so each stage's loop can be tested deterministically beside the tests
// against real servers.
#include <functional>
#include <mutex>
#include <vector>

#include "ZorvanInternal.h"

namespace zvtest {

// A queue object of a given size that remembers its sequence number.
class Token : public ZVQueueObject {
  public:
    Token(int seq, int64_t size) : seq(seq), size(size) {}
    int64_t dataSize() const override { return size; }
    const int seq;
    const int64_t size;
};

// Hands out what the test pushed, oldest first: an unbounded queue, so a stage waits on it
// as on any other. Any thread.
class ScriptedSource : public ZVQueue {
  public:
    ScriptedSource() : ZVQueue(kZVQueueNoLimit) {}
    void push(ZVObjectRef object) { addObject(std::move(object)); }
    size_t remaining() { return size_t(count()); }
};

// The one recording destination of the tests: keeps what it is given (or what `keep` makes
// of it) with its arrival time, refuses while not accepting, and can pass everything on to
// a destination behind it (whose answer to canAcceptObject then counts). Any thread.
class RecordingDestination : public ZVDataDestination {
  public:
    explicit RecordingDestination(ZVDataDestination* forwardTo = nullptr) : _next(forwardTo) {}
    bool canAcceptObject() override;
    void addObject(ZVObjectRef object) override;
    void setAccepting(bool accepting);
    std::vector<ZVObjectRef> objects();
    std::vector<double> arrivalTimes();  // ZVAbsoluteTimeGetCurrent() at each addObject
    size_t count();
    int refusals();
    // Waits until at least `n` more objects than now have come; false after `seconds`.
    bool waitForMore(size_t n, double seconds = 5);
    // What is kept of each object (set before use); the object itself when empty.
    std::function<ZVObjectRef(const ZVObjectRef&)> keep;
    // Called with each object after it is recorded and before it is passed on, on the adding
    // thread.
    std::function<void(const ZVObjectRef&)> onAdd;

  private:
    ZVDataDestination* const _next;
    std::mutex _lock;  // guards everything below
    std::vector<ZVObjectRef> _objects;
    std::vector<double> _times;
    bool _accepting = true;
    int _refusals = 0;
};

}  // namespace zvtest
