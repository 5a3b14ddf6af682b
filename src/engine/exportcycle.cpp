#include "engine/exportcycle.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <map>

#include "engine/servicefacts.h"
#include "engine/engine.h"
#include "files/fileproc.h"
#include "files/importverdict.h"
#include "files/parkedname.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/service.h"
#include "scale/scaleclient.h"
#include "scale/scaletypes.h"

namespace tv {
namespace {

// Per scale number: how many files are parked and the oldest's write time.
TServiceFacts::TParkedCounts ParkedPerScale(const std::vector<std::string>& paths) {
  TServiceFacts::TParkedCounts out;
  for (const std::string& path : paths) {
    platform::FileInfo info;
    std::time_t written = 0;
    if (platform::Env::Default()->GetFileInfo(platform::MapPath(path), &info).ok())
      written = std::chrono::system_clock::to_time_t(info.lastWrite);
    auto [it, fresh] = out.try_emplace(CFiles::ScaleNumberFromFileName(path), 0, written);
    ++it->second.first;
    if (written != 0 && (it->second.second == 0 || written < it->second.second))
      it->second.second = written;
  }
  return out;
}

// The reader's skipped lines and those of the encoding that left out the
// most lines (profiles may differ in what they can encode).
template <typename Encodings>
TSkippedLines WithEncoderSkips(const TLineLists& lists, const Encodings& encodings) {
  const TEncodedFile* most = nullptr;
  for (const auto& entry : encodings)
    if (entry.second && (!most || entry.second->leftOut.size() > most->leftOut.size()))
      most = entry.second.get();
  if (!most) return lists.skips;
  return WithEncoderSkips(lists, *most);
}

// The A lines the best of the profiles turns into goods frames; with no
// scale listed, those the reader filed.
template <typename Encodings>
size_t MostEncodedGoods(const TLineLists& lists, const Encodings& encodings) {
  size_t most = encodings.empty() ? lists.aLines.size() : 0;
  for (const auto& entry : encodings)
    if (entry.second) most = std::max(most, lists.aLines.size() - entry.second->skippedGoods);
  return most;
}

}  // namespace

std::string ParkingAddress(int number, const std::string& address) {
  uint8_t named = 0;
  if (ScaleNumberFromAddress(address, named) && named == static_cast<uint8_t>(number & 0xFF))
    return address;
  return std::to_string(number);
}

TThrEngine::TThrEngine(TEngine& engine)
    : engine_(engine),
      files_(engine.Files()),
      engineSettings_(engine.Settings()),
      registry_(engine.StorePath()),
      settings_(engine.CycleSettingsFrom(registry_)),
      scaleTimeoutMs_(engine.ScaleTimeoutMs()),
      ledger_(engine.DeliveryLedger()) {}

TThrEngine::~TThrEngine() { WaitFor(); }

int TThrEngine::Execute() {
  const std::time_t started = std::time(nullptr);
  const auto begun = std::chrono::steady_clock::now();
  try {
    Run();
    PruneLedger();
    engine_.Facts().CyclesRun();
  } catch (const std::exception& e) {
    // A scale table that cannot be read ends the cycle early; the engine
    // must still hear that it is over.
    platform::LogError("export cycle ended early: %s", e.what());
    engine_.Facts().CyclesBlocked(std::string("export cycle ended early: ") + e.what());
    eventful_ = true;
  } catch (...) {
    platform::LogError("export cycle ended early");
    engine_.Facts().CyclesBlocked("export cycle ended early");
    eventful_ = true;
  }
  engine_.Progress().Idle();
  Report();
  engine_.Facts().CycleTimed(started, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - begun)
                                          .count());
  engine_.SignalCycleEnd();
  return 0;
}

void TThrEngine::Run() {
  tables_ = DeviceTableRead(registry_, settings_.BarcodeFormat);
  std::vector<std::string> newKeyboardFiles;
  files_.ListUnsentFiles(settings_.SearchMask, unsentFiles_, keyboardFiles_);
  files_.ListExportFiles(settings_.SearchMask, commonFiles_, newKeyboardFiles);
  // Layouts keep their order per scale as goods files do: parked copies
  // first, each group oldest first.
  files_.SortByFileTime(keyboardFiles_);
  files_.SortByFileTime(newKeyboardFiles);
  keyboardFiles_.insert(keyboardFiles_.end(), newKeyboardFiles.begin(), newKeyboardFiles.end());
  LogResendRequests();
  DeliverParkedFiles();
  DeliverCommonFiles();
  DispatchKeyboardFiles();
}

// A cycle that changed nothing (failed retries of a scale known to be
// down, a file still in its quiet period) has its summary at debug level
// only and leaves the STATUS line as it was.
void TThrEngine::Report() {
  std::vector<std::string> parked, parkedKeyboard;
  files_.ListUnsentFiles(settings_.SearchMask, parked, parkedKeyboard);
  const size_t parkedAfter = parked.size() + parkedKeyboard.size();
  parked.insert(parked.end(), parkedKeyboard.begin(), parkedKeyboard.end());
  // A reminder is a line of its own, not a reason for a summary.
  engine_.Facts().CycleEnded([&] { return ParkedPerScale(parked); });
  if (!eventful_) {
    platform::LogDebug("export cycle: %s", tally_.Summary(parkedAfter).c_str());
    return;
  }
  platform::LogInfo("export cycle: %s", tally_.Summary(parkedAfter).c_str());
  const platform::LocalTime now = engine_.Clock().Now();
  char hhmm[8];
  std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", now.hour % 100, now.minute % 100);
  platform::NotifyStatus(tally_.StatusLine(hhmm, parkedAfter));
}

std::string TThrEngine::AddressOf(int32_t number) const { return settings_.IPAdress + std::to_string(number); }

TCurrentScale TThrEngine::SelectByIndex(size_t i) const {
  TCurrentScale s;
  s.number = tables_.ScaleNumbers[i];
  s.port = s.number + settings_.SocketPort;
  s.address = AddressOf(s.number);
  s.deviceType = tables_.DeviceTypes[i];
  s.barcodeType = tables_.BarcodeTypes[i];
  s.useByInDays = tables_.UseByInDays[i];
  s.constBarcode = tables_.ConstBarcode[i];
  return s;
}

bool TThrEngine::SelectByFileName(const std::string& path, TCurrentScale& s) const {
  s = TCurrentScale{};
  s.number = CFiles::ScaleNumberFromFileName(path);
  s.port = s.number + settings_.SocketPort;
  s.address = AddressOf(s.number);
  for (size_t i = 0; i < tables_.ScaleNumbers.size(); ++i) {
    if (tables_.ScaleNumbers[i] != s.number) continue;
    s.deviceType = tables_.DeviceTypes[i];
    s.barcodeType = tables_.BarcodeTypes[i];
    s.useByInDays = tables_.UseByInDays[i];
    s.constBarcode = tables_.ConstBarcode[i];
    return true;
  }
  return false;
}

TScaleProfile TThrEngine::ProfileOf(const TCurrentScale& s) const {
  TScaleProfile p;
  p.TakeEngineSettings(*engineSettings_);
  p.NameAlgorithm = settings_.m_iNameAlgorithm;
  p.LongBarCode = settings_.LongBarCode;
  p.TextToOEM = settings_.TextToOEM;
  p.ScaleType = static_cast<TScaleType>(s.deviceType);
  p.BarPrefix = settings_.BarPrefix;
  p.LabelWidth = settings_.LabelWidth;
  p.IngredientFont = settings_.INGRFontSize;
  p.MessageFont = settings_.SMessFontSize;
  p.BarcodeType = s.barcodeType;
  p.LabelFormat = settings_.LFormat;
  p.UseByInDays = s.useByInDays;
  p.ConstBarcode = s.constBarcode;
  return p;
}

TEncodedFilePtr TThrEngine::EncodedFor(const TCurrentScale& s, TEncodings& encodings) const {
  TScaleProfile profile = ProfileOf(s);
  TEncodedFilePtr& frames = encodings[profile];
  if (!frames) frames = EncodeFile(lines_, profile, engine_.Host());
  return frames;
}

std::unique_ptr<TScaleClnt> TThrEngine::StartClient(const TCurrentScale& s, TEncodedFilePtr frames) {
  TScaleClntContext context;
  context.clock = &engine_.Clock();
  context.networkTimeoutMs = scaleTimeoutMs_;
  auto client = std::make_unique<TScaleClnt>(TScaleEndpoint{s.address, s.port}, std::move(frames), context);
  client->Start();
  return client;
}

void TThrEngine::DeliverCommonFiles() {
  for (const std::string& path : commonFiles_) {
    currentFileName_ = platform::ExtractFileName(path);
    tally_.File();
    eventful_ = true;
    lines_.skips = {};  // a file that cannot be opened leaves the lists as they were
    const bool parsed = files_.ParseImportFile(path, lines_);
    if (!parsed) {
      LogFileLines(currentFileName_, lines_.skips);
      NoteFileLines(lines_.skips);
      RecordResult(kResultNothingToSend, path, false, -1, "");
      RejectUnparsed(path);
      continue;
    }
    // Every profile's frames are made before the first is sent, so that the
    // file's line can count the A lines the encoder leaves out too.
    TEncodings encodings;
    for (size_t i = 0; i < tables_.ScaleNumbers.size(); ++i) EncodedFor(SelectByIndex(i), encodings);
    const TSkippedLines skips = WithEncoderSkips(lines_, encodings);
    LogFileLines(currentFileName_, skips);
    NoteFileLines(skips);
    if (NoGoodsReadable(lines_.skips, MostEncodedGoods(lines_, encodings))) {
      RejectUnreadableGoods(path);
      continue;
    }
    DeliverToAllScales(path, encodings);
    if (!FinishCommonFile(path)) return;
  }
}

// A file leaves as soon as every scale has had it and every copy it needs
// is parked, so that a crash later in the cycle re-delivers at most the file
// in flight, never an older one after a newer.  A file some scale still
// needs and has no parked copy of stays, and the newer files wait behind it:
// the scales that have it get it again next cycle, and must not have had a
// newer one by then.
bool TThrEngine::FinishCommonFile(const std::string& path) {
  if (kept_.count(path) == 0) {
    files_.RemoveDelivered(path);
    return true;
  }
  platform::LogError(
      "%s kept in the export directory for the next cycle; newer files wait behind it",
      platform::MapPath(path).c_str());
  return false;
}

void TThrEngine::DeliverToAllScales(const std::string& path, TEncodings& encodings) {
  const size_t count = tables_.ScaleNumbers.size();
  const size_t batch = std::min(settings_.ParallelScales(), count);
  std::vector<std::unique_ptr<TScaleClnt>> slots(count);
  std::vector<TDeltaPlan> plans(count);
  TDeltas deltas;
  // Every batch's clients of one profile send the same frames; the line lists
  // are not touched again until the last batch has been collected.
  size_t next = 0;
  while (next < count) {
    const size_t first = next;
    const size_t end = std::min(count, first + batch);
    // Said before the first client starts, so that a stop at any moment
    // can tell what it waits for.
    engine_.Progress().Busy(currentFileName_, std::vector<int>(tables_.ScaleNumbers.begin() + first,
                                                               tables_.ScaleNumbers.begin() + end));
    StartBatch(first, end, encodings, plans, deltas, slots);
    next = end;
    const std::vector<int> codes = CollectBatch(first, end, plans, slots);
    for (size_t i = end; i-- > first;) {
      TCurrentScale scale = SelectByIndex(i);
      std::string cause;
      if (slots[i]) {
        cause = slots[i]->Cause();
        engine_.Facts().FramesSent(scale.number, slots[i]->FramesSent());
        CountRecords(scale.number, *slots[i], plans[i]);
        slots[i].reset();
      }
      RecordResult(codes[i - first], path, false, scale.number, scale.address, cause);
    }
    StoreResults();
  }
}

// The batch's ledger marks go in one transaction before its first frame, so
// that no ledger write competes with the frames in flight.
void TThrEngine::StartBatch(size_t first, size_t end, TEncodings& encodings,
                            std::vector<TDeltaPlan>& plans, TDeltas& deltas,
                            std::vector<std::unique_ptr<TScaleClnt>>& slots) {
  std::vector<TEncodedFilePtr> frames(end - first);
  BeginLedgerGroup();
  for (size_t i = first; i < end; ++i) {
    TCurrentScale scale = SelectByIndex(i);
    if (HeldBack(scale.number)) continue;
    frames[i - first] =
        DeltaFor(scale.number, EncodedFor(scale, encodings), plans[i], deltas);
    ForgetWhatMayChange(scale.number, *frames[i - first]);
  }
  EndLedgerGroup("this batch's scales not prepared for");
  for (size_t i = first; i < end; ++i)
    if (frames[i - first]) slots[i] = StartClient(SelectByIndex(i), std::move(frames[i - first]));
}

// Each started client's result code, the last started first; what they
// acknowledged goes into the ledger in one transaction once the last ended.
std::vector<int> TThrEngine::CollectBatch(size_t first, size_t end,
                                          const std::vector<TDeltaPlan>& plans,
                                          const std::vector<std::unique_ptr<TScaleClnt>>& slots) {
  std::vector<int> codes(end - first, kResultHeldBack);  // held back: parked without connecting
  for (size_t i = end; i-- > first;)
    if (slots[i]) codes[i - first] = slots[i]->WaitFor();
  BeginLedgerGroup();
  for (size_t i = end; i-- > first;)
    if (slots[i]) NoteAcknowledged(SelectByIndex(i).number, *slots[i], plans[i], codes[i - first]);
  EndLedgerGroup("what this batch's scales acknowledged not recorded of");
  return codes;
}

// Kept for the back office to see, never deleted: unless it is simply gone,
// or stays where it is because it could not be moved.
void TThrEngine::RejectUnparsed(const std::string& path) {
  if (files_.LastRefusal() == TImportRefusal::kMissing) return;
  Reject(path, files_.LastRefusalReason());
}

void TThrEngine::Reject(const std::string& path, const std::string& reason) {
  if (!files_.MoveToRejected(path, reason)) kept_.insert(path);
}

// Its deletions and clock line alone would empty the scales of the goods
// the file was meant to bring: nothing of it is sent.
void TThrEngine::RejectUnreadableGoods(const std::string& path) {
  const std::string reason =
      UnreadableGoodsReason(lines_.skips, engineSettings_->ImportType, files_.ListSeparatorInUse());
  RecordResult(kResultNothingToSend, path, false, -1, "");
  Reject(path, reason);
}

// What the scale acknowledged, not what was planned: a delivery cut off
// midway counts the records before the cut.
void TThrEngine::CountRecords(int number, const TScaleClnt& client, const TDeltaPlan& plan) {
  const std::vector<TDeliveryStep>& steps = client.Frames().steps;
  const size_t done = std::min(client.StepsAcknowledged(), steps.size());
  const size_t sent = static_cast<size_t>(
      std::count_if(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(done),
                    [](const TDeliveryStep& s) { return s.kind == TStepKind::Goods && s.length; }));
  engine_.Facts().RecordsDelivered(number, sent, plan.skippedRecords);
}

void TThrEngine::NoteFileLines(const TSkippedLines& skips) {
  engine_.Facts().LastFile(currentFileName_, skips.read, skips.skipped, skips.firstLine,
                           skips.firstReason);
}

void TThrEngine::RecordResult(int code, const std::string& path, bool parked, int number,
                              const std::string& address, const std::string& cause) {
  if (!(IsParkedName(currentFileName_) && code != 0))
    files_.AppendLog(address, static_cast<uint16_t>(code), currentFileName_);
  // Code 6: the file holds nothing for this scale, so no copy could ever be
  // delivered.
  const bool missed = code != kResultDelivered && code != kResultNothingToSend;
  if (missed && !parked && number >= 0 &&
      !files_.CopyToUnsent(path, ParkingAddress(number, address)))
    kept_.insert(path);
  if (code == kResultDelivered && parked) files_.RemoveDelivered(path);
  if (code == kResultNothingToSend && parked)
    RemoveParkedCopy(path, number, "it holds nothing for this scale");
  if (missed && number >= 0) HoldBack(number);
  if (number < 0)
    LogAttempt(number, address, currentFileName_, code, parked);
  else if (engine_.Facts().GoodsAttempt(number, address, currentFileName_, code, cause, parked))
    eventful_ = true;
  tally_.Attempt(number, code);
  if (number < 0) return;
  pendingResults_.push_back({number, code == kResultDelivered});
}

// Results go to the store in one transaction per batch, each after its log
// line and its parked copy.
void TThrEngine::StoreResults() {
  if (pendingResults_.empty()) return;
  try {
    WriteResults(registry_, pendingResults_);
  } catch (const platform::RegistryError& e) {
    for (const TScaleResult& r : pendingResults_)
      platform::LogError("result of scale %d not stored: %s", r.scaleNumber, e.what());
  }
  pendingResults_.clear();
}

void TThrEngine::RemoveParkedCopy(const std::string& path, int number, const char* reason) {
  platform::LogWarning("scale %d: parked copy %s removed: %s", number,
                       platform::ExtractFileName(path).c_str(), reason);
  files_.DeleteIfExists(path);
}

}  // namespace tv
