// The byte stream a client sends to the status server (port 3058), run
// through the real server over loopback inside a private network namespace.
// The first input byte picks the store and the engine's state: bit 0
// CycleRunning, bits 1-5 the number of scales (31: no DeviceResults table),
// bit 6 a TotalNumber above 255.  Properties: every request byte 1 gets one
// reply of 1 + 2N bytes with the scale numbers and states the store and
// the flag give, every other byte none, and a store without results gives
// no reply at all.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/statusprotocol.h"
#include "engine/statusserver.h"
#include "fuzzcheck.h"
#include "netns.h"
#include "scratchdir.h"
#include "platform/registry.h"
#include "session_client.h"

namespace {

constexpr size_t kLongestStream = 512;
constexpr int kNoResultsTable = 31;

struct Harness {
  std::unique_ptr<tv::platform::GuardedRegistry> registry;
  std::shared_ptr<tv::TEngineFlags> flags = std::make_shared<tv::TEngineFlags>();
  std::unique_ptr<tv::TStatusServer> server;
  int storeChoice = -1;
};

Harness& TheHarness() {
  static Harness* h = [] {
    tv::fuzz::EnterPrivateNetwork();
    auto* harness = new Harness;
    harness->registry = tv::fuzz::ScratchStore();
    harness->server = std::make_unique<tv::TStatusServer>(*harness->registry, harness->flags);
    FUZZ_CHECK(harness->server->Activate());
    return harness;
  }();
  return *h;
}

// Scale i of the list: its stored number (only the low byte is reported)
// and, for two of every three scales, a result entry.
int32_t StoredNumber(int i) { return i * 0x100 + ((i * 37 + 5) & 0xFF); }
bool HasResult(int i) { return i % 3 != 0; }
int32_t StoredResult(int i) { return 0x100 + i % 4; }

void FillStore(tv::platform::GuardedRegistry& registry, int scales, bool bigTotal) {
  auto reg = registry.Lock();
  reg->DeleteKey(tv::kDevicesKey);
  reg->DeleteKey(tv::kDeviceResultsKey);
  tv::platform::RegistryKey devices = reg->Open(tv::kDevicesKey, true);
  devices.WriteInteger("TotalNumber", scales + (bigTotal ? 256 : 0));
  for (int i = 1; i <= scales; ++i) devices.WriteInteger("Scale" + std::to_string(i), StoredNumber(i));
  if (scales == kNoResultsTable) return;
  tv::platform::RegistryKey results = reg->Open(tv::kDeviceResultsKey, true);
  for (int i = 1; i <= scales; ++i)
    if (HasResult(i)) results.WriteInteger(std::to_string(StoredNumber(i) & 0xFF), StoredResult(i));
}

// The reply to one request; empty when there is none.
std::vector<uint8_t> Reply(int scales, bool cycleRunning) {
  if (scales == kNoResultsTable) return {};
  std::vector<uint8_t> reply = {static_cast<uint8_t>(scales)};
  for (int i = 1; i <= scales; ++i) reply.push_back(static_cast<uint8_t>(StoredNumber(i)));
  for (int i = 1; i <= scales; ++i) {
    uint8_t state = tv::urUnknown;
    // A later scale with the same low byte shares the entry, and wrote it last.
    for (int j = 1; j <= scales; ++j)
      if (HasResult(j) && (StoredNumber(j) & 0xFF) == (StoredNumber(i) & 0xFF))
        state = static_cast<uint8_t>(StoredResult(j));
    reply.push_back(cycleRunning ? tv::urInProgress : state);
  }
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Harness& h = TheHarness();
  const bool cycleRunning = data[0] & 1;
  const int scales = (data[0] >> 1) & 0x1F;
  const bool bigTotal = data[0] & 0x40;
  const int choice = data[0] >> 1;
  if (choice != h.storeChoice) {
    FillStore(*h.registry, scales, bigTotal);
    h.storeChoice = choice;
  }
  h.flags->CycleRunning = cycleRunning;
  const size_t length = std::min(size - 1, kLongestStream);

  std::vector<uint8_t> expected;
  const std::vector<uint8_t> one = Reply(scales, cycleRunning);
  for (size_t i = 0; i < length; ++i)
    if (data[1 + i] == 1) expected.insert(expected.end(), one.begin(), one.end());
  FUZZ_CHECK(tv::fuzz::Session(tv::kStatusPort, data + 1, length) == expected);
  return 0;
}
