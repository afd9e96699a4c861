#pragma once
// Notifications: posted synchronously on the posting thread; observers are matched by
// name and object. Observers run on a snapshot taken outside the center's lock, so an
// observer may add, remove or post; removeObserver waits for that observer's calls in
// flight on other threads, so after it returns the observer is never called again.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Foundation/ZVMutex.h"
#include "Foundation/ZVValue.h"

struct ZVNotification {
    std::string name;
    const void* object = nullptr;  // the poster (a stage posts itself); borrowed
    ZVValue userInfo;
};

class ZVNotificationCenter {
  public:
    using Callback = std::function<void(const ZVNotification&)>;

    // The process-wide center. Any thread.
    static ZVNotificationCenter& defaultCenter();

    // Registers `callback` for notifications named `name` (empty: every name) posted with
    // `object` (nullptr: any object). `observer` is the identity used to remove it.
    // Any thread.
    void addObserver(const void* observer, std::string_view name, const void* object,
                     Callback callback) ZV_EXCLUDES(_lock);

    // Removes every registration of `observer`, or those matching name and object, and
    // waits until its calls running on other threads have returned. Any thread; from
    // inside the observer's own callback it does not wait for that call.
    void removeObserver(const void* observer) ZV_EXCLUDES(_lock);
    void removeObserver(const void* observer, std::string_view name, const void* object)
        ZV_EXCLUDES(_lock);

    // Calls every matching observer on this thread before returning. Any thread.
    void post(std::string_view name, const void* object, ZVValue userInfo = {}) ZV_EXCLUDES(_lock);

    ZVNotificationCenter() = default;
    ZVNotificationCenter(const ZVNotificationCenter&) = delete;
    ZVNotificationCenter& operator=(const ZVNotificationCenter&) = delete;

  private:
    struct Entry;
    void removeMatching(const void* observer, bool all, std::string_view name, const void* object)
        ZV_EXCLUDES(_lock);

    ZVMutex _lock;  // guards _entries
    std::vector<std::shared_ptr<Entry>> _entries ZV_GUARDED_BY(_lock);
};
