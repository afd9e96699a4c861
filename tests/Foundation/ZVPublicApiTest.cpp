// Compiles and runs against the public header alone, as a host would: without
// ZV_PRIVATE_API, linked with libzorvan only, so a public header that reaches a private
// one fails to build here.
#include <zorvan/Zorvan.h>

#include <gtest/gtest.h>

TEST(PublicApi, AHostCanWireAQueueAndListen) {
    ZVQueue queue;
    ZVDataDestination& destination = queue;
    ZVDataSource& source = queue;
    destination.addObject(std::make_shared<ZVDataObject>(std::vector<uint8_t>(16)));
    EXPECT_EQ(std::dynamic_pointer_cast<ZVDataObject>(source.nextObject())->dataSize(), 16);
    int seen = 0;
    ZVNotificationCenter::defaultCenter().addObserver(&seen, ZVWavIODidStopNotification, nullptr,
                                                      [&](const ZVNotification&) { seen++; });
    ZVNotificationCenter::defaultCenter().post(ZVWavIODidStopNotification, &queue);
    ZVNotificationCenter::defaultCenter().removeObserver(&seen);
    EXPECT_EQ(seen, 1);
}
