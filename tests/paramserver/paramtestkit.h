// Shared pieces of the parameter server tests: a block builder, a store in a
// temporary directory and a loopback client.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "paramserver/protocol.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "testutil.h"

namespace tv::test {

// The fields of a parameter block, written out in wire order by Bytes().
struct BlockBuilder {
  uint16_t verInterval = 30;
  uint8_t header[6] = {7, 19, 60, 1, 2, 0};  // BarcodeFormat..m_iNameAlgorithm
  uint8_t ip[3] = {127, 0, 0};
  uint8_t textToOem = 0, longBarCode = 1, importType = 2;
  std::vector<uint8_t> scales = {11, 12}, types = {1, 5};
  std::string strings[4] = {"D:\\Export", "D:\\Logs", "*.txt", "27"};
  std::vector<uint8_t> barcodes = {8, 9}, useBy = {1, 0}, constBc = {0, 3};

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b = {0, 0, uint8_t(verInterval & 0xFF), uint8_t(verInterval >> 8)};
    b.insert(b.end(), header, header + 6);
    b.insert(b.end(), ip, ip + 3);
    b.insert(b.end(), {textToOem, longBarCode, importType, uint8_t(scales.size())});
    for (const auto* part : {&scales, &types}) b.insert(b.end(), part->begin(), part->end());
    for (const auto& s : strings) {
      b.insert(b.end(), s.begin(), s.end());
      b.push_back(kETX);
    }
    for (const auto* part : {&barcodes, &useBy, &constBc}) b.insert(b.end(), part->begin(), part->end());
    b.push_back(kEOT);
    return b;
  }
};

inline const char* const kTableKeys[] = {kDevicesKey, kDeviceTypesKey, kDeviceBarcodeTypesKey,
                                         kDeviceUseByInDaysKey, kDeviceConstBCKey};

// A store as the engine leaves it after its first start.
inline void FillDefaultStore(platform::GuardedRegistry& registry) {
  auto reg = registry.Lock();
  platform::RegistryKey product = reg->Open(kProductKey, true);
  product.WriteString("ExportDir", "C:\\SCALEUPLOAD\\ExportDir");
  product.WriteString("IPAdress", "127.0.0.");
  product.WriteInteger("VerInterval", 10);
  product.WriteInteger("SocketPort", 2000);
  const int defaults[] = {91, 0, 5, 0, 0};
  for (int i = 0; i < 5; ++i) {
    platform::RegistryKey table = reg->Open(kTableKeys[i], true);
    table.WriteInteger("TotalNumber", 1);
    table.WriteInteger("Scale1", defaults[i]);
  }
}

// Every value under the product key as "Key\Value" -> text.
inline std::map<std::string, std::string> Snapshot(platform::GuardedRegistry& registry) {
  std::map<std::string, std::string> all;
  auto reg = registry.Lock();
  auto dump = [&](const std::string& key) {
    platform::RegistryKey k = reg->Open(key, false);
    if (!k) return std::vector<std::string>{};
    for (const auto& v : k.ListValues())
      all[key + "\\" + v.name] = v.type == platform::RegType::String ? v.text : std::to_string(v.number);
    return k.ListSubKeys();
  };
  // Sub-keys are listed by their full paths.
  for (const auto& sub : dump(kProductKey)) dump(sub);
  return all;
}

// Connects to the loopback port, retrying until the server listens.
inline platform::TcpSocket ConnectWithin(uint16_t port, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    platform::TcpSocket s;
    if (s.Create() && s.SetRecvTimeout(20000) && s.Connect("127.0.0.1", port)) return s;
    if (std::chrono::steady_clock::now() > deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The answer byte, or -1 when the server closed without one.
inline int Answer(platform::TcpSocket& s) {
  uint8_t b = 0;
  return s.RecvByte(b) ? b : -1;
}

inline bool Send(platform::TcpSocket& s, std::vector<uint8_t> bytes) {
  return s.SendAll(bytes.data(), bytes.size());
}

// Bytes the server side of `port` has received but not yet read, from this
// network namespace's socket table; -1 while no such connection shows.
inline long UnreadAtServer(uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream in(line);
    std::string slot, local, remote, state, queues;
    in >> slot >> local >> remote >> state >> queues;
    if (state != "01" || std::stoul(local.substr(local.find(':') + 1), nullptr, 16) != port) continue;
    return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
  }
  return -1;
}

}  // namespace tv::test
