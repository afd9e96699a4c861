#include <gtest/gtest.h>
#include "Zorvan.h"
TEST(ZVQueue, Smoke2) { ZVQueue q; EXPECT_TRUE(q.canAcceptObject()); }
