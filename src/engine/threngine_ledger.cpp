// The ledger's side of a cycle: after each scale's delivery, what it
// acknowledged.  Written on the cycle's thread once the client has ended,
// so no lock is held across the network and the per-frame path stays as it
// was.
#include <chrono>

#include "engine/threngine.h"
#include "engine/unengine.h"
#include "platform/log.h"
#include "scale/clntsock.h"

namespace tv {

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

// A kill after the scale took a frame and before its answer is recorded
// must not leave the ledger vouching for what that frame replaced.
void TThrEngine::ForgetWhatMayChange(int number, const TEncodedFile& frames) {
  std::vector<int32_t> goods;
  for (const TDeliveryStep& step : frames.steps)
    if (step.kind == TStepKind::Delete || (step.kind == TStepKind::Goods && step.length != 0))
      goods.push_back(step.goodsNumber);
  if (goods.empty() || !LedgerReady()) return;
  if (platform::Status s = ledger_.Forget(number, goods); !s.ok())
    platform::LogError("scale %d: ledger not prepared for %s: %s", number, currentFileName_.c_str(),
                       s.ToString().c_str());
}

void TThrEngine::NoteAcknowledged(int number, const TScaleClnt& client) {
  const TEncodedFile& frames = client.Frames();
  const size_t done = client.StepsAcknowledged();
  std::vector<platform::LedgerChange> changes;
  for (size_t i = 0; i < done && i < frames.steps.size(); ++i) {
    const TDeliveryStep& step = frames.steps[i];
    if (step.kind == TStepKind::Delete)
      changes.push_back({step.goodsNumber, nullptr, 0});
    else if (step.kind == TStepKind::Goods && step.length != 0)
      changes.push_back({step.goodsNumber, frames.Frame(step), step.length});
  }
  if (changes.empty()) return;
  if (!LedgerReady()) return;
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  if (platform::Status s = ledger_.Record(number, currentFileName_, now, changes); !s.ok())
    platform::LogError("scale %d: what it acknowledged of %s not recorded: %s", number,
                       currentFileName_.c_str(), s.ToString().c_str());
}

}  // namespace tv
