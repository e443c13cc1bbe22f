#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace qeltest {

// Base fixture for tool suites: one mock platform and one initialized
// server for the whole suite; every test starts with an empty request log
// and scripts the routes it uses.
class SharedServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    mock_ = std::make_unique<MockPlatform>();
    client_ = std::make_unique<McpClient>(ServerProcess::for_mock(*mock_));
    client_->initialize();
  }
  static void TearDownTestSuite() {
    client_.reset();
    mock_.reset();
  }
  void SetUp() override { mock_->clear(); }

  static inline std::unique_ptr<MockPlatform> mock_;
  static inline std::unique_ptr<McpClient> client_;
};

}  // namespace qeltest
