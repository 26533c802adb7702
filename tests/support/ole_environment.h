#pragma once
// OLE initialised on the tests' thread for the whole test executable, as the program does at
// start-up. One test file of each executable that needs it registers it:
//   [[maybe_unused]] const auto* const oleEnvironment = testing::AddOleEnvironment();
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

namespace harvester::testing {

class OleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    initialised_ = SUCCEEDED(OleInitialize(nullptr));
    ASSERT_TRUE(initialised_);
  }
  // Uninitialises only what was initialised.
  void TearDown() override {
    if (initialised_) OleUninitialize();
    initialised_ = false;
  }

 private:
  bool initialised_ = false;
};

inline ::testing::Environment* AddOleEnvironment() {
  return ::testing::AddGlobalTestEnvironment(new OleEnvironment);
}

}  // namespace harvester::testing
