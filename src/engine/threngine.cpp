#include "engine/threngine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "engine/unengine.h"
#include "files/fileproc.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/service.h"
#include "scale/clntsock.h"
#include "scale/scaletypes.h"

namespace tv {
namespace {

constexpr size_t kMaxBatch = 10;

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// The scale number of a DeviceResults entry: the address text after its
// third dot.  False when there is none or it is not a number.
bool ScaleNumberFromAddress(const std::string& address, int& number) {
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    pos = address.find('.', pos);
    if (pos == std::string::npos) return false;
    ++pos;
  }
  std::string tail = address.substr(pos);
  if (tail.empty() || tail.size() > 9 ||
      !std::all_of(tail.begin(), tail.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  number = std::stoi(tail);
  return true;
}

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
    std::fprintf(stderr, "Tovalink: export cycle ended early: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Tovalink: export cycle ended early\n");
  }
  engine_.Progress().Idle();
  Report();
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

void TThrEngine::Report() {
  std::vector<std::string> parked, parkedKeyboard;
  files_.ListUnsentFiles(settings_.SearchMask, parked, parkedKeyboard);
  const size_t parkedAfter = parked.size() + parkedKeyboard.size();
  platform::LogInfo("export cycle: %s", tally_.Summary(parkedAfter).c_str());
  const platform::LocalTime now = engine_.Clock().Now();
  char hhmm[8];
  std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", now.hour % 100, now.minute % 100);
  platform::NotifyStatus(tally_.StatusLine(hhmm, parkedAfter));
}

bool TThrEngine::IsParkedName(const std::string& name) {
  return name.find('{') != std::string::npos && name.find('}') != std::string::npos;
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

std::unique_ptr<TScaleClnt> TThrEngine::StartClient(const TCurrentScale& s) {
  TScaleClntContext ctx{engineSettings_, &lines_, engine_.Host(), &engine_.Clock()};
  auto client = std::make_unique<TScaleClnt>(
      settings_.m_iNameAlgorithm, settings_.LongBarCode, settings_.TextToOEM, static_cast<TScaleType>(s.deviceType),
      settings_.BarPrefix,
      s.address, settings_.LabelWidth, settings_.INGRFontSize, settings_.SMessFontSize, s.barcodeType,
      settings_.LFormat, s.port, engineSettings_->ListSeparator, engineSettings_->DecimalSeparator, s.useByInDays,
      s.constBarcode, ctx);
  client->Start();
  return client;
}

void TThrEngine::DeliverParkedFiles() {
  for (const std::string& path : unsentFiles_) {
    currentFileName_ = platform::ExtractFileName(path);
    if (!files_.ParseImportFile(path, lines_)) continue;
    TCurrentScale scale;
    if (!SelectByFileName(path, scale)) continue;
    tally_.File();
    engine_.Progress().Busy(currentFileName_, {scale.number});
    std::unique_ptr<TScaleClnt> client = StartClient(scale);
    int code = client->WaitFor();
    client.reset();
    RecordResult(code, path, true, scale.address);
  }
}

void TThrEngine::DeliverCommonFiles() {
  for (const std::string& path : commonFiles_) {
    currentFileName_ = platform::ExtractFileName(path);
    tally_.File();
    lines_.skips = {};  // a file that cannot be opened leaves the lists as they were
    const bool parsed = files_.ParseImportFile(path, lines_);
    LogFileLines(currentFileName_, lines_.skips);
    if (!parsed) {
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
  size_t next = 0;
  while (next < count) {
    const size_t first = next;
    for (size_t started = 0; started < batch && next < count; ++started, ++next)
      slots[next] = StartClient(SelectByIndex(next));
    engine_.Progress().Busy(currentFileName_, std::vector<int>(tables_.ScaleNumbers.begin() + first,
                                                               tables_.ScaleNumbers.begin() + next));
    // The last started is collected first.
    for (size_t i = next; i-- > first;) {
      TCurrentScale scale = SelectByIndex(i);
      int code = slots[i]->WaitFor();
      slots[i].reset();
      RecordResult(code, path, false, scale.address);
    }
  }
}

void TThrEngine::ReportMissingParkedCopy(const std::string& path, const std::string& address) {
  // CopyToUnsent keeps its failures to itself; without this line the file's
  // data for that scale would vanish at the end of the cycle unnoticed.
  const std::string unsent = platform::MapPath(platform::ExtractFilePath(path) + "Unsent");
  std::vector<platform::FoundFile> found;
  platform::FindFiles(unsent + "/*" + CFiles::ParkedNameSuffix(currentFileName_, address), found);
  if (found.empty())
    platform::LogError("parked copy of %s for %s cannot be written to %s", currentFileName_.c_str(), address.c_str(),
                       unsent.c_str());
}

void TThrEngine::RecordResult(int code, const std::string& path, bool parked, const std::string& address) {
  if (!(IsParkedName(currentFileName_) && code != 0))
    files_.AppendLog(address, static_cast<uint16_t>(code), currentFileName_);
  if (code != 0 && !Trimmed(address).empty() && !parked) {
    files_.CopyToUnsent(path, address);
    ReportMissingParkedCopy(path, address);
  }
  if (code == 0 && parked) files_.DeleteIfExists(path);
  // A result without an address (an unparseable common file) names no scale.
  int number = 0;
  const bool named = ScaleNumberFromAddress(address, number);
  LogAttempt(named ? number : -1, address, currentFileName_, code, parked);
  tally_.Attempt(named ? number : -1, code);
  if (!named) return;
  try {
    WriteResult(registry_, number, code == 0);
  } catch (const platform::RegistryError& e) {
    std::fprintf(stderr, "Tovalink: result of scale %d not stored: %s\n", number, e.what());
  }
}

}  // namespace tv
