// Keyboard file dispatch: step 7 of an export cycle.  Every ".xml" file goes
// to the SM700 scales one upload at a time: a parked copy to the scale its
// name carries, any other file to every SM700 scale of the list in table
// order.  Other scales have no keyboard session to upload to.
#include <string>

#include "engine/servicefacts.h"
#include "engine/exportcycle.h"
#include "engine/engine.h"
#include "files/fileproc.h"
#include "files/parkedname.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "scale/scaletypes.h"
#include "sm700/Sender.h"
#include "sm700/XMLKeyboard.h"
#include "sm700/XMLKeyboard_parse.h"

namespace tv {
namespace {

bool IsSm700(const TCurrentScale& scale) {
  return static_cast<TScaleType>(scale.deviceType) == TScaleType::SM700;
}

}  // namespace

void TThrEngine::DispatchKeyboardFiles() {
  // Without scales nothing is uploaded, parked copies included: every file
  // stays for a later cycle.
  if (tables_.ScaleNumbers.empty()) return;
  for (const std::string& path : keyboardFiles_) {
    currentFileName_ = platform::ExtractFileName(path);
    if (IsParkedName(currentFileName_))
      DispatchParkedKeyboardFile(path);
    else if (!DispatchKeyboardFileToAll(path))
      return;  // the newer layouts wait behind the one that stays
  }
}

bool TThrEngine::AnySm700Listed() const {
  for (size_t i = 0; i < tables_.ScaleNumbers.size(); ++i)
    if (IsSm700(SelectByIndex(i))) return true;
  return false;
}

bool TThrEngine::KeyboardFileReadable(const std::string& path, std::string& reason) const {
  std::string bytes;
  if (!platform::Env::Default()->ReadFile(platform::MapPath(path), &bytes).ok()) return true;
  TKeyboardDocument document;
  if (document.Parse(bytes)) return true;
  reason = "code " + std::to_string(kKbFileUnreadable) +
           ", keyboard file unreadable: " + document.Error();
  return false;
}

void TThrEngine::DispatchParkedKeyboardFile(const std::string& path) {
  TCurrentScale scale;
  const bool listed = SelectByFileName(path, scale);  // uploaded whether or not it is listed
  if (listed && !IsSm700(scale)) {
    RemoveParkedCopy(path, scale.number, "keyboard layouts go to SM700 scales only");
    return;
  }
  if (HeldBack(scale.number)) return;  // waits behind its older file, unlogged
  // It would fail the same way in every later cycle.
  if (std::string reason; !KeyboardFileReadable(path, reason)) {
    Reject(path, reason);
    return;
  }
  tally_.File();
  std::string cause;
  int code = UploadKeyboardFile(static_cast<uint8_t>(scale.number), scale.address, path, cause);
  if (engine_.Facts().KeyboardAttempt(scale.number, scale.address, currentFileName_, code, cause,
                                      true))
    eventful_ = true;
  tally_.Attempt(scale.number, code);
  if (code != 0) {  // stays parked, not logged again
    if (code != kKbFileUnreadable) HoldBack(scale.number);
    return;
  }
  files_.AppendLog(scale.address, 0, currentFileName_);
  files_.RemoveDelivered(path);
}

// A file no SM700 scale can take, or none can read, is kept in Rejected for
// the back office to see, said once there, instead of vanishing.
bool TThrEngine::DispatchKeyboardFileToAll(const std::string& path) {
  eventful_ = true;
  if (!AnySm700Listed()) {
    Reject(path, "keyboard layouts go to SM700 scales only, and the scale list has none");
    return true;
  }
  tally_.File();
  std::string unreadable;
  if (!KeyboardFileReadable(path, unreadable)) {
    // One delivery-log line per scale that did not get it, as before.
    for (size_t i = 0; i < tables_.ScaleNumbers.size(); ++i) {
      TCurrentScale scale = SelectByIndex(i);
      if (!IsSm700(scale)) continue;
      files_.AppendLog(scale.address, static_cast<uint16_t>(kKbFileUnreadable), currentFileName_);
      tally_.Attempt(scale.number, kKbFileUnreadable);
    }
    Reject(path, unreadable);
    return true;
  }
  bool keep = false;  // a scale that failed has no parked copy
  for (size_t i = 0; i < tables_.ScaleNumbers.size(); ++i) {
    TCurrentScale scale = SelectByIndex(i);
    if (!IsSm700(scale)) continue;
    std::string cause;
    int code = HeldBack(scale.number)
                   ? kResultHeldBack
                   : UploadKeyboardFile(static_cast<uint8_t>(scale.number & 0xFF), scale.address,
                                        path, cause);
    engine_.Facts().KeyboardAttempt(scale.number, scale.address, currentFileName_, code, cause,
                                    false);
    tally_.Attempt(scale.number, code);
    files_.AppendLog(scale.address, static_cast<uint16_t>(code), currentFileName_);
    // An unreadable file would fail again for every later cycle: not parked.
    if (code == 0 || code == kKbFileUnreadable) continue;
    if (!files_.CopyToUnsent(path, ParkingAddress(scale.number, scale.address))) keep = true;
    HoldBack(scale.number);
  }
  if (!keep) {
    files_.RemoveDelivered(path);
    return true;
  }
  platform::LogError(
      "%s kept in the export directory for the next cycle; newer layouts wait behind it",
      platform::MapPath(path).c_str());
  return false;
}

int TThrEngine::UploadKeyboardFile(uint8_t target, const std::string& address,
                                   const std::string& path, std::string& cause) {
  engine_.Progress().Busy(currentFileName_, {target});
  TSender sender(target, address);
  TXmlKeyboardFile upload(sender, platform::MapPath(path));
  upload.Start();
  upload.WaitFor();
  cause = sender.Uploader().Cause();
  return upload.ResultCode();
}

}  // namespace tv
