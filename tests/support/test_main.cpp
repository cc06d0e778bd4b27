// main() of the layer's tests: every test runs on the tests' backends, installed before the first one.
#include <gtest/gtest.h>

#include "testing/test_backends.h"

int main(int argc, char** argv) {
    w32::UseTestBackends();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
