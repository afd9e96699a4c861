#include <gtest/gtest.h>
#include "Zorvan.h"
TEST(ZVQueue, Smoke3) { ZVQueue q; EXPECT_TRUE(q.canAcceptObject()); }
