// A fixture that points the per-user store at a private temporary directory.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/registry.h"
#include "tests/support/files.h"

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = home_ + "/config";
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    setenv("HOME", home_.c_str(), 1);
    RegFailNextWrites(0);
    RegFailNextReads(0);
  }
  void TearDown() override {
    RegFailNextWrites(0);
    RegFailNextReads(0);
  }
  std::string StoreDir() const { return config_ + "/sonivert"; }
  std::string StorePath() const { return StoreDir() + "/registry.reg"; }

  ScratchDir scratch_;
  // Without the trailing separator, as the store builds its paths from $HOME.
  const std::string home_ = scratch_.Dir();
  std::string config_;
};
