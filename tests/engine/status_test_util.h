// Helpers shared by the status server and status client tests: a store in a
// temporary directory laid out like the service's, and a status request over
// a real socket.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/statusprotocol.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "testutil.h"

namespace tv::status_test {

using TempDir = test::TempDir;

inline void WriteTable(platform::GuardedRegistry& store, const char* key,
                       const std::vector<int32_t>& entries) {
  auto reg = store.Lock();
  platform::RegistryKey table = reg->Open(key, true);
  ASSERT_TRUE(table);
  table.WriteInteger("TotalNumber", static_cast<int32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i)
    table.WriteInteger("Scale" + std::to_string(i + 1), entries[i]);
}

inline void WriteResult(platform::GuardedRegistry& store, int number, bool delivered) {
  auto reg = store.Lock();
  platform::RegistryKey results = reg->Open(kDeviceResultsKey, true);
  ASSERT_TRUE(results);
  results.WriteBool(std::to_string(number), delivered);
}

// The tables a first start leaves: one scale, 91, and no results yet.
inline void WriteDefaultTables(platform::GuardedRegistry& store) {
  WriteTable(store, kDevicesKey, {91});
  auto reg = store.Lock();
  ASSERT_TRUE(reg->CreateKey(kDeviceResultsKey));
}

inline platform::TcpSocket ConnectTo(uint16_t port, int recvTimeoutMs = 3000) {
  platform::TcpSocket s;
  EXPECT_TRUE(s.Create());
  EXPECT_TRUE(s.Connect("127.0.0.1", port));
  s.SetRecvTimeout(recvTimeoutMs);
  return s;
}

// Sends one status request and reads the 1 + 2N byte reply.
inline std::optional<std::vector<uint8_t>> AskStatus(platform::TcpSocket& s) {
  if (!s.SendAll(&kStatusRequest, 1)) return std::nullopt;
  uint8_t count = 0;
  if (!s.RecvByte(count)) return std::nullopt;
  std::vector<uint8_t> reply(StatusReplyLength(count));
  reply[0] = count;
  if (count > 0 && !s.RecvExact(reply.data() + 1, reply.size() - 1)) return std::nullopt;
  return reply;
}

inline std::chrono::milliseconds ElapsedSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

}  // namespace tv::status_test
