// TThrEngine: one export cycle.  It delivers every waiting goods file to the
// scales (parked copies to their own scale, new files to every scale in
// batches of at most 10), hands keyboard files to the keyboard dispatch,
// logs and records every attempt, parks what failed, deletes what is done
// and always ends by setting the engine's cycle-end signal.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/settings.h"
#include "engine/cyclereport.h"
#include "engine/engine_config.h"
#include "files/linelists.h"
#include "platform/ledger.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "scale/encodedfile.h"
#include "scale/scaleprofile.h"

namespace tv {

class CFiles;
class TEngine;
class TScaleClnt;
struct TParkedLane;
namespace platform {
class Event;
}

// The scale that the next client or record refers to.
struct TCurrentScale {
  int32_t number = 0;
  std::string address;
  int32_t port = 0;
  uint8_t deviceType = 0;
  int32_t barcodeType = 0;
  bool useByInDays = false;
  bool constBarcode = false;
};

// What CopyToUnsent is given to name a copy for scale `number`: its address,
// unless a malformed IPAdress makes the address name another scale (or
// none); then the bare number, which names the scale itself.
std::string ParkingAddress(int number, const std::string& address);

class TThrEngine : public platform::Thread {
 public:
  // Reads the cycle settings from the engine's store with a handle of its
  // own.  Throws when they cannot be read; the engine then starts nothing.
  explicit TThrEngine(TEngine& engine);
  ~TThrEngine() override;

  // Selects entry i of the scale tables.
  TCurrentScale SelectByIndex(size_t i) const;
  // Selects the scale named by a parked file; false when its number is not
  // in the scale list (address and port still refer to that number).
  bool SelectByFileName(const std::string& path, TCurrentScale& scale) const;

 protected:
  int Execute() override;

 private:
  void Run();
  // The summary line and the STATUS systemctl shows.
  void Report();
  // Parked goods files (exportcycle_parked.cpp): a queue per scale, up to 10
  // scales at once.
  void DeliverParkedFiles();
  // Says in the service log who asked for each resend noted since.
  void LogResendRequests();
  std::vector<TParkedLane> ParkedLanes() const;
  bool StartNextParked(TParkedLane& lane, platform::Event& ended);
  bool CollectParked(TParkedLane& lane, platform::Event& ended);
  void ShowParkedProgress(const std::vector<TParkedLane*>& active);
  void DeliverCommonFiles();
  // The file's frames for a scale, encoded once per distinct profile.
  using TEncodings = std::unordered_map<TScaleProfile, TEncodedFilePtr, TScaleProfileHash>;
  void DeliverToAllScales(const std::string& path, TEncodings& encodings);
  // Removes a delivered common file at once; false when it must stay and
  // the newer files of this cycle must wait.
  bool FinishCommonFile(const std::string& path);
  // Keyboard files (kbdispatch.cpp): one upload at a time, logged, parked
  // for the scales that failed.
  void DispatchKeyboardFiles();
  void DispatchParkedKeyboardFile(const std::string& path);
  // False when the file stays for the next cycle (a copy not parked).
  bool DispatchKeyboardFileToAll(const std::string& path);
  // `cause` receives what ended a failed upload.
  int UploadKeyboardFile(uint8_t target, const std::string& address, const std::string& path,
                         std::string& cause);
  // False, with the line and attribute at fault, for a keyboard file no
  // upload can read; a file that cannot be opened is left to the upload.
  bool KeyboardFileReadable(const std::string& path, std::string& reason) const;
  bool AnySm700Listed() const;
  TScaleProfile ProfileOf(const TCurrentScale& scale) const;
  TEncodedFilePtr EncodedFor(const TCurrentScale& scale, TEncodings& encodings) const;
  std::unique_ptr<TScaleClnt> StartClient(const TCurrentScale& scale, TEncodedFilePtr frames);
  // `number` < 0 when the result names no scale (an unreadable common file).
  // `cause` names what ended a failed attempt.
  void RecordResult(int code, const std::string& path, bool parked, int number,
                    const std::string& address, const std::string& cause = {});
  void RejectUnparsed(const std::string& path);
  // The lines read and skipped of the current goods file, for `status`.
  void NoteFileLines(const TSkippedLines& skips);
  void RejectUnreadableGoods(const std::string& path);
  // Every move into Rejected goes through here, with the reason.
  void Reject(const std::string& path, const std::string& reason);
  void StoreResults();
  // What the scale acknowledged goes into the ledger, one transaction per
  // delivery, once its client has ended (exportcycle_ledger.cpp).
  // With delta delivery: what one scale is sent of a file.
  struct TDeltaPlan {
    bool whole = true;   // the whole file, or only what the ledger lacks
    size_t sent = 0;     // goods records
    size_t skipped = 0;  // goods records and deletions left out
    size_t skippedRecords = 0;  // of them, goods records
  };
  // What one file's frames came to for a history of scales, so that the
  // scales that hold the same are not each compared with the ledger.
  struct TDelta {
    TEncodedFilePtr frames;
    TDeltaPlan plan;
  };
  using TDeltas = std::map<std::pair<const TEncodedFile*, uint64_t>, TDelta>;
  TEncodedFilePtr DeltaFor(int number, TEncodedFilePtr full, TDeltaPlan& plan, TDeltas& deltas);
  TEncodedFilePtr HeldLeftOut(int number, const TEncodedFilePtr& full, TDeltaPlan& plan);
  // `code` may turn from 6 to 0: a scale that needed nothing but the clock
  // was delivered to.
  void NoteAcknowledged(int number, const TScaleClnt& client, const TDeltaPlan& plan, int& code);
  void ForgetWhatMayChange(int number, const TEncodedFile& frames);
  // The goods records the scale acknowledged and those left out as held,
  // for `status` and the metrics; once per delivery, after its client ended.
  void CountRecords(int number, const TScaleClnt& client, const TDeltaPlan& plan);
  // One batch of DeliverToAllScales: its clients started, then collected.
  void StartBatch(size_t first, size_t end, TEncodings& encodings, std::vector<TDeltaPlan>& plans,
                  TDeltas& deltas, std::vector<std::unique_ptr<TScaleClnt>>& slots);
  std::vector<int> CollectBatch(size_t first, size_t end, const std::vector<TDeltaPlan>& plans,
                                const std::vector<std::unique_ptr<TScaleClnt>>& slots);
  bool LedgerReady();
  // Around one batch's Begin marks, and around its records: one
  // transaction each, every scale's part still all or nothing.
  void BeginLedgerGroup();
  // `what` tells the operator what a failed commit lost.
  void EndLedgerGroup(const char* what);
  // At the end of a cycle, when enough records may have lost their last
  // holder.
  void PruneLedger();
  void RemoveParkedCopy(const std::string& path, int number, const char* reason);
  // A scale with an undelivered file left parked in this cycle gets nothing
  // newer until a later cycle has delivered that file.
  void HoldBack(int number) { heldBack_.insert(number); }
  bool HeldBack(int number) const { return heldBack_.count(number) != 0; }
  std::string AddressOf(int32_t number) const;

  TEngine& engine_;
  CFiles& files_;
  TEngineSettingsPtr engineSettings_;
  platform::Registry registry_;
  TCycleSettings settings_;
  TDeviceTables tables_;
  std::string currentFileName_;
  std::vector<std::string> unsentFiles_;
  std::vector<std::string> commonFiles_;
  std::vector<std::string> keyboardFiles_;
  std::set<std::string> kept_;  // common files not to delete at the end
  TLineLists lines_;
  std::vector<TScaleResult> pendingResults_;  // recorded, not yet in the store
  TCycleTally tally_;
  std::set<int> heldBack_;
  bool eventful_ = false;  // something the operator hears of: else the cycle stays silent
  int scaleTimeoutMs_;
  platform::Ledger& ledger_;  // the engine's, opened when first needed
  bool ledgerFailed_ = false;
};

}  // namespace tv
