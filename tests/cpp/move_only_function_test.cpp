#include "core/move_only_function.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace ferolin {
namespace {

TEST(MoveOnlyFunction, OwnsAMoveOnlyTargetAndKeepsItsState) {
  auto counter = std::make_unique<int>(0);
  MoveOnlyFunction<int()> next = [counter = std::move(counter)] { return ++*counter; };
  ASSERT_TRUE(next);
  EXPECT_EQ(next(), 1);
  EXPECT_EQ(next(), 2);
}

TEST(MoveOnlyFunction, MovingHandsTheTargetOverAndLeavesTheSourceEmpty) {
  MoveOnlyFunction<std::string(std::string)> greet = [](std::string name) {
    return "hello " + name;
  };
  MoveOnlyFunction<std::string(std::string)> moved = std::move(greet);
  EXPECT_FALSE(greet);  // NOLINT: the moved-from state is what is checked
  EXPECT_EQ(moved("you"), "hello you");
  moved = nullptr;
  EXPECT_FALSE(moved);
}

TEST(MoveOnlyFunction, ConvertsTheResultToTheDeclaredType) {
  MoveOnlyFunction<double(int)> half = [](int value) { return value / 2; };
  EXPECT_EQ(half(5), 2.0);
  EXPECT_FALSE(MoveOnlyFunction<void()>{});
}

}  // namespace
}  // namespace ferolin
