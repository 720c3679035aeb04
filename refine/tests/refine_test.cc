#include <gtest/gtest.h>
TEST(Refine, Placeholder) {}
