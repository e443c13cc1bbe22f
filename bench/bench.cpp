// Start-up time, memory and concurrency of the real binary, measured against
// the local HTTPS mock platform. Prints one line per figure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using qeltest::McpClient;
using qeltest::MockPlatform;
using qeltest::ServerProcess;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

long peak_rss_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmHWM:") {
      status >> value;
      return value;
    }
  }
  return -1;
}

const char* kInitialize =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"bench","version":"0"}}})";

}  // namespace

int main() {
  MockPlatform mock;

  std::vector<double> startup;
  for (int i = 0; i < 30; ++i) {
    auto start = Clock::now();
    ServerProcess server(ServerProcess::for_mock(mock));
    server.send(kInitialize);
    if (!server.read_line()) return 1;
    startup.push_back(ms_since(start));
  }
  std::printf("spawn -> initialize answer: median %.2f ms over %zu runs\n", median(startup), startup.size());

  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  std::vector<double> listing;
  for (int i = 0; i < 20; ++i) {
    auto start = Clock::now();
    client.request_raw("tools/list", "{}");
    listing.push_back(ms_since(start));
  }
  std::printf("tools/list: first %.3f ms, median after first %.3f ms\n", listing[0],
              median(std::vector<double>(listing.begin() + 1, listing.end())));
  std::printf("peak RSS after tools/list: %.1f MB\n", peak_rss_kb(client.process().pid()) / 1024.0);

  mock.on("GET", "/g/fast", {{.body = R"({"id":"1","name":"r","path":"g/r"})"}});
  std::vector<double> calls;
  for (int i = 0; i < 200; ++i) {
    auto start = Clock::now();
    client.call_tool("qel_get_repository", R"({"repo":"g/fast"})");
    calls.push_back(ms_since(start));
  }
  std::printf("qel_get_repository round trip through the server: median %.3f ms over %zu calls\n", median(calls),
              calls.size());

  mock.on("GET", "/g/slow", {{.body = R"({"id":"1"})", .delay_ms = 300}});
  auto start = Clock::now();
  std::vector<int> ids;
  for (int i = 0; i < 50; ++i) ids.push_back(client.send_tool_call("qel_get_repository", R"({"repo":"g/slow"})"));
  for (int id : ids) client.wait_response(id);
  std::printf("50 overlapping calls answered after 300 ms each: all done in %.1f ms\n", ms_since(start));
  std::printf("peak RSS after the overlapping calls: %.1f MB\n", peak_rss_kb(client.process().pid()) / 1024.0);
  return 0;
}
