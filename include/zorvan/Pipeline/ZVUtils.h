#pragma once
// The thread that loaded the library (the host's main thread, as a rule), recorded when
// the library is loaded. The framework itself never reads it; it is there for hosts.
#include <thread>

extern std::thread::id gMainThread;

extern const double ZorvanVersionNumber;
extern const char ZorvanVersionString[];

class ZVUtils {
  public:
    ZVUtils() = delete;
    // Runs at library load; exposed so a host that loads the library on another thread
    // can record its own main thread. Any thread.
    static void load();
};
