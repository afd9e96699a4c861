// zorvan about: what this build of the library can do on this machine.
#include <cstdio>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
int run(const std::vector<std::string>&) {
    std::printf("Zorvan %.1f\n", ZorvanVersionNumber);
    std::printf("resources: %s\n", ZVBundle::resourceDirectory().c_str());
    std::printf("memory page size: %u bytes, free %u pages, inactive %u pages\n",
                get_vm_page_size(), get_vm_free_memory(), get_vm_inactive_memory());
    ZVQueue probe;
    std::printf("queue budget: %lld bytes shared, %lld bytes for one queue\n",
                static_cast<long long>(ZVQueue::sharedLimit()),
                static_cast<long long>(probe.limit()));
    std::printf("commands:");
    for (auto& c : ZVCommand::all()) std::printf(" %s", c.name);
    std::printf("\n");
    return 0;
}

const ZVCommand::Registration reg({"about", "show the library's version and what it can do",
                                   "usage: zorvan about\n\nPrints the library version, where "
                                   "its resources are, the queue memory budget and the "
                                   "commands of this build.\n",
                                   run});
}  // namespace
