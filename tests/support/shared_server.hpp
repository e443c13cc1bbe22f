#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

  // Calls that must end with the -32602 parameter error, whose message
  // starts with `message`, without sending anything to the platform.
  struct BadArguments {
    std::string tool, args, message;
  };
  static void expect_parameter_errors(const std::vector<BadArguments>& cases) {
    mock_->clear();
    for (const auto& c : cases) {
      SCOPED_TRACE(c.tool + " " + c.args);
      ToolResult result = client_->call_tool(c.tool, c.args);
      ASSERT_TRUE(result.error);
      EXPECT_EQ(result.error->code, -32602);
      EXPECT_EQ(result.error->message.substr(0, c.message.size()), c.message);
    }
    EXPECT_TRUE(mock_->requests().empty());
  }

  static inline std::unique_ptr<MockPlatform> mock_;
  static inline std::unique_ptr<McpClient> client_;
};

}  // namespace qeltest
