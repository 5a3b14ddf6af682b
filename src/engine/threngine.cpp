#include "engine/threngine.h"

#include <algorithm>
#include <cctype>

#include "engine/unengine.h"
#include "files/fileproc.h"
#include "files/parkedname.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "scale/clntsock.h"
#include "scale/scaletypes.h"
#include "text/utils.h"

namespace tv {
namespace {

constexpr size_t kMaxBatch = 10;

}  // namespace

TThrEngine::TThrEngine(TEngine& engine)
    : engine_(engine),
      files_(engine.Files()),
      engineSettings_(engine.Settings()),
      registry_(engine.StorePath()),
      settings_(CycleRead(registry_)) {}

TThrEngine::~TThrEngine() { WaitFor(); }

int TThrEngine::Execute() {
  try {
    Run();
  } catch (const std::exception& e) {
    // A scale table that cannot be read ends the cycle early; the engine
    // must still hear that it is over.
    platform::LogError("export cycle ended early: %s", e.what());
  } catch (...) {
    platform::LogError("export cycle ended early");
  }
  engine_.SignalCycleEnd();
  return 0;
}

void TThrEngine::Run() {
  tables_ = DeviceTableRead(registry_, settings_.BarcodeFormat);
  files_.ListUnsentFiles(settings_.SearchMask, unsentFiles_, keyboardFiles_);
  files_.ListExportFiles(settings_.SearchMask, commonFiles_, keyboardFiles_);
  DeliverParkedFiles();
  DeliverCommonFiles();
  DispatchKeyboardFiles();
  for (const std::string& path : commonFiles_) files_.DeleteIfExists(path);
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
  auto client = std::make_unique<TScaleClnt>(TScaleEndpoint{s.address, s.port}, std::move(frames), context);
  client->Start();
  return client;
}

void TThrEngine::DeliverParkedFiles() {
  for (const std::string& path : unsentFiles_) {
    currentFileName_ = platform::ExtractFileName(path);
    if (!files_.ParseImportFile(path, lines_)) continue;
    TCurrentScale scale;
    if (!SelectByFileName(path, scale)) continue;
    TEncodings encodings;
    std::unique_ptr<TScaleClnt> client = StartClient(scale, EncodedFor(scale, encodings));
    int code = client->WaitFor();
    client.reset();
    RecordResult(code, path, true, scale.address);
    StoreResults();
  }
}

void TThrEngine::DeliverCommonFiles() {
  for (const std::string& path : commonFiles_) {
    currentFileName_ = platform::ExtractFileName(path);
    if (!files_.ParseImportFile(path, lines_)) {
      RecordResult(kResultNothingToSend, path, false, "");
      continue;
    }
    DeliverToAllScales(path);
  }
}

void TThrEngine::DeliverToAllScales(const std::string& path) {
  const size_t count = tables_.ScaleNumbers.size();
  const size_t batch = std::min(kMaxBatch, count);
  std::vector<std::unique_ptr<TScaleClnt>> slots(count);
  // Every batch's clients of one profile send the same frames; the line lists
  // are not touched again until the last batch has been collected.
  TEncodings encodings;
  size_t next = 0;
  while (next < count) {
    const size_t first = next;
    for (size_t started = 0; started < batch && next < count; ++started, ++next) {
      TCurrentScale scale = SelectByIndex(next);
      slots[next] = StartClient(scale, EncodedFor(scale, encodings));
    }
    // The last started is collected first.
    for (size_t i = next; i-- > first;) {
      TCurrentScale scale = SelectByIndex(i);
      int code = slots[i]->WaitFor();
      slots[i].reset();
      RecordResult(code, path, false, scale.address);
    }
    StoreResults();
  }
}

void TThrEngine::RecordResult(int code, const std::string& path, bool parked, const std::string& address) {
  if (!(IsParkedName(currentFileName_) && code != 0))
    files_.AppendLog(address, static_cast<uint16_t>(code), currentFileName_);
  if (code != 0 && !text::Trim(address).empty() && !parked) files_.CopyToUnsent(path, address);
  if (code == 0 && parked) files_.DeleteIfExists(path);
  // A result without an address (an unparseable common file) names no scale.
  uint8_t number = 0;
  if (!ScaleNumberFromAddress(address, number)) return;
  pendingResults_.push_back({number, code == 0});
}

// The results of one batch go to the store in one transaction, each after
// its log line and its parked copy.
void TThrEngine::StoreResults() {
  try {
    WriteResults(registry_, pendingResults_);
  } catch (const platform::RegistryError& e) {
    for (const TScaleResult& r : pendingResults_)
      platform::LogError("result of scale %d not stored: %s", r.scaleNumber, e.what());
  }
  pendingResults_.clear();
}

}  // namespace tv
