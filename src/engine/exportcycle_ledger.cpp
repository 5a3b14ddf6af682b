// The ledger's side of a cycle: before each scale's delivery, what may
// change on it; after, what it acknowledged; and with delta delivery, what
// it need not be sent.  All on the cycle's thread while no client of that
// scale runs, so no lock is held across the network and the per-frame path
// stays as it was.
#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_map>

#include "engine/engine.h"
#include "engine/exportcycle.h"
#include "files/parkedname.h"
#include "platform/log.h"
#include "scale/scaleclient.h"
#include "scale/scaletypes.h"

namespace tv {
namespace {

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool SendsRecord(const TDeliveryStep& step) {
  return step.kind == TStepKind::Goods && step.length != 0;
}

}  // namespace

bool TThrEngine::LedgerReady() {
  if (!ledger_.IsOpen() && !ledgerFailed_) {
    const std::string path = platform::Ledger::PathBeside(engine_.StorePath());
    if (platform::Status s = ledger_.Open(path); !s.ok()) {
      platform::LogError("ledger not kept in this cycle: %s", s.ToString().c_str());
      ledgerFailed_ = true;
    }
  }
  return ledger_.IsOpen();
}

void TThrEngine::BeginLedgerGroup() {
  if (!LedgerReady()) return;
  if (platform::Status s = ledger_.BeginGroup(); !s.ok())
    platform::LogError("ledger: %s", s.ToString().c_str());
}

void TThrEngine::EndLedgerGroup(const char* what) {
  if (!ledger_.InGroup()) return;
  if (platform::Status s = ledger_.EndGroup(); !s.ok())
    platform::LogError("ledger: %s %s: %s", what, currentFileName_.c_str(), s.ToString().c_str());
}

void TThrEngine::PruneLedger() {
  if (!ledger_.IsOpen() || !ledger_.PruneDue()) return;
  if (platform::Status s = ledger_.Prune(); !s.ok())
    platform::LogError("ledger: records no scale holds not removed: %s", s.ToString().c_str());
}

// A kill after the scale took a frame and before its answer is recorded
// must not leave the ledger vouching for what that frame replaced.
void TThrEngine::ForgetWhatMayChange(int number, const TEncodedFile& frames) {
  const bool changes =
      std::any_of(frames.steps.begin(), frames.steps.end(), [](const TDeliveryStep& step) {
        return step.kind == TStepKind::Delete || SendsRecord(step);
      });
  if (!changes || !LedgerReady()) return;
  if (platform::Status s = ledger_.Begin(number); !s.ok())
    platform::LogError("scale %d: ledger not prepared for %s: %s", number, currentFileName_.c_str(),
                       s.ToString().c_str());
}

TEncodedFilePtr TThrEngine::DeltaFor(int number, TEncodedFilePtr full, TDeltaPlan& plan,
                                     TDeltas& deltas) {
  plan = {};
  for (const TDeliveryStep& step : full->steps) plan.sent += SendsRecord(step) ? 1 : 0;
  if (!settings_.DeltaDelivery || !LedgerReady()) return full;
  bool trusted = false;
  const int64_t maxAge = static_cast<int64_t>(settings_.FullResyncHours) * 3600;
  std::optional<uint64_t> history;
  if (!ledger_.Trusted(number, Now(), maxAge, trusted).ok() || !trusted ||
      !ledger_.History(number, history).ok())
    return full;
  if (!history) return HeldLeftOut(number, full, plan);
  const auto key = std::make_pair(full.get(), *history);
  if (auto it = deltas.find(key); it != deltas.end()) {
    plan = it->second.plan;
    return it->second.frames;
  }
  TEncodedFilePtr frames = HeldLeftOut(number, full, plan);
  deltas.emplace(key, TDelta{frames, plan});
  return frames;
}

// The file without what the ledger says the scale holds as it is.
TEncodedFilePtr TThrEngine::HeldLeftOut(int number, const TEncodedFilePtr& full, TDeltaPlan& plan) {
  std::vector<platform::LedgerEntry> held;
  if (!ledger_.Holdings(number, held).ok()) return full;
  std::unordered_map<int32_t, const std::vector<uint8_t>*> holds;
  for (const platform::LedgerEntry& e : held) holds[e.goods] = &e.bytes;
  auto out = std::make_shared<TEncodedFile>();
  plan = {false, 0, 0};
  for (const TDeliveryStep& step : full->steps) {
    auto it = holds.find(step.goodsNumber);
    bool keep = true;
    if (step.kind == TStepKind::Delete) {
      keep = it != holds.end();
      if (keep) holds.erase(it);  // a record after it in the file is new again
    } else if (SendsRecord(step)) {
      keep = it == holds.end() ||
             !std::equal(it->second->begin(), it->second->end(), full->Frame(step),
                         full->Frame(step) + step.length) ||
             it->second->size() != step.length;
    }
    if (!keep) {
      ++plan.skipped;
      plan.skippedRecords += SendsRecord(step) ? 1 : 0;
      continue;
    }
    plan.sent += SendsRecord(step) ? 1 : 0;
    TDeliveryStep copy = step;
    copy.offset = static_cast<uint32_t>(out->bytes.size());
    out->bytes.insert(out->bytes.end(), full->Frame(step), full->Frame(step) + step.length);
    out->steps.push_back(copy);
  }
  return out;
}

void TThrEngine::NoteAcknowledged(int number, const TScaleClnt& client, const TDeltaPlan& plan,
                                  int& code) {
  const TEncodedFile& frames = client.Frames();
  const size_t done = client.StepsAcknowledged();
  std::vector<platform::LedgerChange> changes;
  for (size_t i = 0; i < done && i < frames.steps.size(); ++i) {
    const TDeliveryStep& step = frames.steps[i];
    if (step.kind == TStepKind::Delete)
      changes.push_back({step.goodsNumber, nullptr, 0});
    else if (SendsRecord(step))
      changes.push_back({step.goodsNumber, frames.Frame(step), step.length});
  }
  if (!plan.whole && plan.skipped != 0) {
    if (code == kResultNothingToSend) code = kResultDelivered;
    platform::LogInfo(
        "scale %d: %zu goods records of %s sent, %zu records and deletions skipped as held", number,
        plan.sent, currentFileName_.c_str(), plan.skipped);
  }
  if (!LedgerReady()) return;
  platform::LedgerOutcome outcome;
  outcome.failed = done < frames.steps.size();
  outcome.whole = plan.whole && !outcome.failed;
  // "From which file" is the back office's name, not the parked copy's.
  const std::string from = IsParkedCopyName(currentFileName_)
                               ? OriginalNameOfParked(currentFileName_)
                               : currentFileName_;
  if (platform::Status s = ledger_.Record(number, from, Now(), changes, outcome); !s.ok())
    platform::LogError("scale %d: what it acknowledged of %s not recorded: %s", number,
                       currentFileName_.c_str(), s.ToString().c_str());
}

}  // namespace tv
