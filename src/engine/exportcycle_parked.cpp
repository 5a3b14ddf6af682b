// Step 4 of an export cycle: the parked goods files, one queue per scale.
// After an outage many scales come back with a backlog each; up to
// MaxParallelScales of them are served at once, each scale's files strictly one after another,
// oldest first, so that a scale never gets a file before an older one.
// Everything but the sending (reading, logging, parking, recording) stays on
// the cycle's thread, so the lines of one scale keep their order.

#include <algorithm>
#include <atomic>
#include <map>

#include "engine/servicefacts.h"
#include "engine/exportcycle.h"
#include "engine/engine.h"
#include "files/fileproc.h"
#include "platform/env.h"
#include "platform/event.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "scale/scaleclient.h"

namespace tv {
namespace {

// A client that says when it has ended, so that the cycle can wait for
// whichever of several clients ends first.
class TSignallingClnt : public TScaleClnt {
 public:
  TSignallingClnt(TScaleEndpoint where, TEncodedFilePtr frames, TScaleClntContext context,
                  platform::Event& ended)
      : TScaleClnt(std::move(where), std::move(frames), context), ended_(ended) {}
  ~TSignallingClnt() override { WaitFor(); }
  bool Ended() const { return done_.load(); }

 protected:
  int Execute() override {
    int code = TScaleClnt::Execute();
    done_.store(true);
    ended_.Set();
    return code;
  }

 private:
  platform::Event& ended_;
  std::atomic<bool> done_{false};
};

}  // namespace

struct TParkedLane {
  TCurrentScale scale;
  std::vector<std::string> files;  // oldest first
  size_t next = 0;
  std::string current;
  std::unique_ptr<TSignallingClnt> client;
};

std::vector<TParkedLane> TThrEngine::ParkedLanes() const {
  std::vector<TParkedLane> lanes;
  std::map<int, std::vector<std::string>> unlisted;
  for (const std::string& path : unsentFiles_) {
    TCurrentScale scale;
    if (!SelectByFileName(path, scale)) {  // not in the list: left alone
      unlisted[scale.number].push_back(platform::ExtractFileName(path));
      continue;
    }
    auto lane = std::find_if(lanes.begin(), lanes.end(),
                             [&](const TParkedLane& l) { return l.scale.number == scale.number; });
    if (lane == lanes.end()) {
      lanes.push_back(TParkedLane{});
      lane = lanes.end() - 1;
      lane->scale = scale;
    }
    lane->files.push_back(path);
  }
  for (const auto& [number, names] : unlisted)
    engine_.Facts().Unlisted(number, names.front(), static_cast<int>(names.size()));
  return lanes;
}

void TThrEngine::DeliverParkedFiles() {
  // Declared first, so that it outlives every client, whatever ends the loop.
  platform::Event ended("parked delivery ended");
  std::vector<TParkedLane> lanes = ParkedLanes();
  std::vector<TParkedLane*> active;
  size_t waiting = 0;
  for (;;) {
    for (; active.size() < settings_.ParallelScales() && waiting < lanes.size(); ++waiting)
      if (StartNextParked(lanes[waiting], ended)) active.push_back(&lanes[waiting]);
    if (active.empty()) return;
    ShowParkedProgress(active);
    // Reset before looking, so that a client ending meanwhile sets it again.
    ended.Wait();
    ended.Reset();
    for (auto lane = active.begin(); lane != active.end();) {
      if (!(*lane)->client->Ended() || CollectParked(**lane, ended))
        ++lane;
      else
        lane = active.erase(lane);
    }
  }
}

// Records the lane's ended delivery and starts its next file; false when
// the lane has nothing more to send in this cycle.
bool TThrEngine::CollectParked(TParkedLane& lane, platform::Event& ended) {
  int code = lane.client->WaitFor();
  const std::string cause = lane.client->Cause();
  engine_.Facts().FramesSent(lane.scale.number, lane.client->FramesSent());
  currentFileName_ = platform::ExtractFileName(lane.current);
  NoteAcknowledged(lane.scale.number, *lane.client, TDeltaPlan{}, code);
  CountRecords(lane.scale.number, *lane.client, TDeltaPlan{});
  lane.client.reset();
  RecordResult(code, lane.current, true, lane.scale.number, lane.scale.address, cause);
  StoreResults();
  return StartNextParked(lane, ended);
}

bool TThrEngine::StartNextParked(TParkedLane& lane, platform::Event& ended) {
  while (lane.next < lane.files.size()) {
    // Behind an older copy that failed: the rest wait, unlogged, like any
    // failed retry.
    if (HeldBack(lane.scale.number)) return false;
    const std::string& path = lane.files[lane.next++];
    currentFileName_ = platform::ExtractFileName(path);
    if (!files_.ParseImportFile(path, lines_)) continue;
    tally_.File();
    lane.current = path;
    TScaleClntContext context;
    context.clock = &engine_.Clock();
    context.networkTimeoutMs = scaleTimeoutMs_;
    // The frames are the client's own: the line lists serve the next file.
    lane.client = std::make_unique<TSignallingClnt>(
        TScaleEndpoint{lane.scale.address, lane.scale.port},
        EncodeFile(lines_, ProfileOf(lane.scale), engine_.Host()), context, ended);
    ForgetWhatMayChange(lane.scale.number, lane.client->Frames());
    lane.client->Start();
    return true;
  }
  return false;
}

// Taken out of the ledger before they are logged: a crash in between loses
// the line rather than repeating it.  A ledger not made yet holds none, and
// is not made for this.
void TThrEngine::LogResendRequests() {
  // The ledger stays open from cycle to cycle: only until then is there a
  // file to look for, which a store that never delivered does not have.
  if (!ledger_.IsOpen() &&
      !platform::Env::Default()->FileExists(platform::Ledger::PathBeside(engine_.StorePath())))
    return;
  if (!LedgerReady()) return;
  std::vector<platform::ResendRequest> asked;
  if (platform::Status s = ledger_.TakeResendRequests(asked); !s.ok()) {
    // Tried again each cycle; said once.
    static std::string lastFailure;
    if (s.ToString() != lastFailure)
      platform::LogError("resend requests not read: %s", s.ToString().c_str());
    lastFailure = s.ToString();
    return;
  }
  for (const platform::ResendRequest& r : asked) {
    const std::string whose =
        r.from == r.scale ? "it holds" : "scale " + std::to_string(r.from) + " holds";
    platform::LogNotice("%s asked to give scale %d again the %lld goods records %s: %s",
                        r.who.c_str(), r.scale, static_cast<long long>(r.records), whose.c_str(),
                        r.file.c_str());
  }
}

void TThrEngine::ShowParkedProgress(const std::vector<TParkedLane*>& active) {
  std::vector<int> scales;
  for (const TParkedLane* lane : active) scales.push_back(lane->scale.number);
  engine_.Progress().Busy(
      active.size() == 1 ? platform::ExtractFileName(active[0]->current) : "parked copies", scales);
}

}  // namespace tv
