// A fixture that points the per-user store at a private temporary directory.
#pragma once
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "tests/foundation/test_files.h"

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = MakeTempDir();
    config_ = home_ + "/config";
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    setenv("HOME", home_.c_str(), 1);
    RegFailNextWrites(0);
    RegFailNextReads(0);
  }
  void TearDown() override {
    RegFailNextWrites(0);
    RegFailNextReads(0);
    RemoveTree(home_);
  }
  std::string StoreDir() const { return config_ + "/sonivert"; }
  std::string StorePath() const { return StoreDir() + "/registry.reg"; }

  std::string home_;
  std::string config_;
};
