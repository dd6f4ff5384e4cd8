#include <gtest/gtest.h>

#include <cstdlib>

// Tests talk to loopback servers only: keep any proxy of the environment out of their way.
int main(int argc, char** argv) {
    setenv("no_proxy", "127.0.0.0/8,localhost,.test", 1);
    setenv("NO_PROXY", "127.0.0.0/8,localhost,.test", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
