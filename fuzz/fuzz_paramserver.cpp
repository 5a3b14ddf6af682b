// The byte stream a client sends to the parameter server (port 3057), run
// through the real server over loopback inside a private network namespace.
// The first input byte sets the engine's state (bit 0 CycleRunning, bit 1
// ExportsLocked, bit 2 a failing settings reload); the rest is the stream.
// Properties: the answers are exactly those of the protocol's state
// machine; ExportsLocked ends as the commands leave it; the store changes
// only by a well-formed block that the remote limits let through (no
// control characters, directories inside the allowed roots), to exactly
// what that block carries, and the engine reloads only after such a block.
#include <atomic>
#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "fuzzcheck.h"
#include "netns.h"
#include "scratchdir.h"
#include "paramserver/paramserver.h"
#include "paramserver/blockpolicy.h"
#include "paramserver/paramblock.h"
#include "paramserver/protocol.h"
#include "paramserver/paramtestkit.h"
#include "platform/fs.h"
#include "session_client.h"

namespace {

using Store = std::map<std::string, std::string>;

constexpr size_t kLongestStream = 4096;  // one receive takes any block whole

struct Harness {
  std::unique_ptr<tv::platform::GuardedRegistry> registry;
  std::shared_ptr<tv::TEngineFlags> flags = std::make_shared<tv::TEngineFlags>();
  std::atomic<bool> reloadSucceeds{true};
  std::vector<std::string> roots;  // where a remote block may point
  std::atomic<int> reloads{0};
  std::unique_ptr<tv::TParamServer> server;
  Store store;  // what the store should hold
};

Harness& TheHarness() {
  static Harness* h = [] {
    tv::fuzz::EnterPrivateNetwork();
    auto* harness = new Harness;
    harness->registry = tv::fuzz::ScratchStore();
    tv::test::FillDefaultStore(*harness->registry);
    {
      auto reg = harness->registry->Lock();
      reg->Open(tv::kDeviceResultsKey, true).WriteInteger("91", 1);
    }
    harness->store = tv::test::Snapshot(*harness->registry);
    tv::TParamServerHost host{harness->registry.get(), harness->flags, [harness] {
                                ++harness->reloads;
                                return harness->reloadSucceeds.load();
                              }};
    // Drive paths map into the state directory, so corpus blocks with them pass.
    harness->roots = {tv::fuzz::ScratchDirectory(), tv::platform::StateHome()};
    host.defaultRoots = harness->roots;
    harness->server = std::make_unique<tv::TParamServer>(std::move(host), tv::kParamServerPort, 5000);
    harness->server->Start();
    return harness;
  }();
  return *h;
}

// The store after `block` was written over `before`.
Store Written(Store store, const tv::TParamBlock& b) {
  const std::string main = std::string(tv::kProductKey) + "\\";
  auto text = [&](const char* name, const std::string& v) { store[main + name] = v; };
  auto number = [&](const char* name, int64_t v) { store[main + name] = std::to_string(v); };
  text("ExportDir", b.ExportDir);
  text("LogoDir", b.LogoDir);
  text("IPAdress", b.IPAdress);
  number("VerInterval", b.VerInterval);
  text("FileMask", b.FileMask);
  text("BarPrefix", b.BarPrefix);
  number("BarcodeFormat", b.BarcodeFormat);
  number("LFormat", b.LFormat);
  number("LabelWidth", b.LabelWidth);
  number("INGRFontSize", b.INGRFontSize);
  number("SMessFontSize", b.SMessFontSize);
  number("m_iNameAlgorithm", b.m_iNameAlgorithm);
  number("TextToOEM", b.TextToOEM);
  number("LongBarCode", b.LongBarCode);
  number("ImportType", b.ImportType);
  const std::pair<const char*, const std::vector<uint8_t>*> tables[] = {
      {"Devices", &b.ScaleNumbers}, {"DeviceTypes", &b.DeviceTypes},
      {"DeviceBarcodeTypes", &b.BarcodeTypes}, {"DeviceUseByInDays", &b.UseByInDays},
      {"DeviceConstBC", &b.ConstBC}};
  for (const auto& [name, table] : tables) {
    const std::string prefix = main + name + "\\";
    std::erase_if(store, [&](const auto& e) { return e.first.rfind(prefix, 0) == 0; });
    store[prefix + "TotalNumber"] = std::to_string(b.TotalNumber);
    for (size_t i = 0; i < table->size(); ++i)
      store[prefix + "Scale" + std::to_string(i + 1)] = std::to_string((*table)[i]);
  }
  return store;
}

// What the server must do with `stream`, given the engine's state.
struct Expected {
  std::vector<uint8_t> answers;
  bool locked = false;
  int reloads = 0;
  Store store;
};

Expected Model(const std::vector<uint8_t>& stream, bool cycleRunning, bool locked, bool reloadSucceeds,
               const Store& store, const std::vector<std::string>& roots) {
  enum { Idle, Opened, Closed } state = Idle;
  Expected e{{}, locked, 0, store};
  for (size_t i = 0; i < stream.size() && state != Closed; ++i) {
    const uint8_t b = stream[i];
    if (b == tv::kENQ && state == Idle && cycleRunning) {
      e.answers.push_back(tv::kBS);
      state = Closed;
    } else if (b == tv::kENQ && state == Idle) {
      e.answers.push_back(tv::kACK);
      state = Opened;
    } else if (b == tv::kBEL && state == Opened) {
      // The block is the rest of the stream, read in one receive.
      std::vector<uint8_t> block(stream.begin() + static_cast<long>(i) + 1, stream.end());
      tv::TParamBlock decoded;
      const bool allowed = !block.empty() && block.back() == tv::kEOT &&
                           tv::DecodeBlock(block.data(), block.size(), decoded) &&
                           tv::BlockRefusal(decoded, roots).ok();
      if (allowed) {
        e.store = Written(e.store, decoded);
        ++e.reloads;
      }
      e.answers.push_back(allowed && reloadSucceeds ? tv::kACK : tv::kNAK);
      state = Closed;  // Written: the stream has nothing left
    } else if (b == tv::kBEL) {
      e.answers.push_back(tv::kNAK);
      state = Closed;
    } else if (b == tv::kDLE && state == Idle) {
      e.answers.push_back(cycleRunning ? tv::kBS : tv::kACK);
      if (!cycleRunning) e.locked = true;
      state = Closed;
    } else if (b == tv::kDC1) {
      e.answers.push_back(state == Idle ? tv::kACK : tv::kNAK);
      if (state == Idle) e.locked = false;
      state = Closed;
    } else {
      state = Closed;  // EOT, unknown bytes, a second ENQ, DLE after ENQ
    }
  }
  return e;
}

void PrintDifference(const Store& found, const Store& expected) {
  for (const auto& [name, value] : found) {
    auto e = expected.find(name);
    if (e == expected.end() || e->second != value)
      std::fprintf(stderr, "store %s = '%s', expected '%s'\n", name.c_str(), value.c_str(),
                   e == expected.end() ? "(none)" : e->second.c_str());
  }
  for (const auto& [name, value] : expected)
    if (!found.count(name)) std::fprintf(stderr, "store lacks %s = '%s'\n", name.c_str(), value.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Harness& h = TheHarness();
  const bool cycleRunning = data[0] & 1;
  const bool locked = data[0] & 2;
  const bool reloadSucceeds = !(data[0] & 4);
  const std::vector<uint8_t> stream(data + 1, data + std::min(size, kLongestStream + 1));

  h.flags->CycleRunning = cycleRunning;
  h.flags->ExportsLocked = locked;
  h.reloadSucceeds = reloadSucceeds;
  const int reloadsBefore = h.reloads;
  const Expected expected = Model(stream, cycleRunning, locked, reloadSucceeds, h.store, h.roots);

  const std::vector<uint8_t> answers = tv::fuzz::Session(tv::kParamServerPort, stream.data(), stream.size());
  FUZZ_CHECK(answers == expected.answers);
  FUZZ_CHECK(h.flags->ExportsLocked == expected.locked);
  FUZZ_CHECK(h.reloads - reloadsBefore == expected.reloads);
  h.store = tv::test::Snapshot(*h.registry);
  if (h.store != expected.store) PrintDifference(h.store, expected.store);
  FUZZ_CHECK(h.store == expected.store);
  return 0;
}
