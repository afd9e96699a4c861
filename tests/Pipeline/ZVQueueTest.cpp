#include <gtest/gtest.h>
#include "Zorvan.h"
TEST(ZVQueue, Smoke) { ZVQueue q; EXPECT_TRUE(q.canAcceptObject()); }
