// The keyboard upload's view of one SM700 scale: connect, open the session,
// send a key (key, image path and image records) or a keyboard record, and
// disconnect.  One sender serves one scale for one keyboard file.
#pragma once

#include <cstdint>
#include <string>

#include "sm700/Records.h"
#include "sm700/UploaderSM700.h"

namespace tv {

constexpr uint8_t kSm700SessionCode = 0x41;

class TSender {
 public:
  // Connects to `basePort` + scale number; production always uses 2000
  // and the 15-second time-out.
  TSender(uint8_t scaleNumber, const std::string& address, int basePort = kSm700BasePort,
          int timeoutMs = kSm700TimeoutMs);
  TSender(const TSender&) = delete;
  TSender& operator=(const TSender&) = delete;

  bool Connect() { return uploader_.Connect(); }
  bool OpenSession() { return uploader_.Hello(kSm700SessionCode); }
  // Advances the process-wide image number before the image path record.
  bool SendKey(const TKeyInfo& key);
  bool SendKeyboard(const TKeyboardInfo& keyboard);
  void Disconnect() { uploader_.Close(); }

  const TSM700Uploader& Uploader() const { return uploader_; }

 private:
  bool SendBuilt(const TRecords& builder);

  TSM700Uploader uploader_;
  TRecords keyboardBuilder_;
  TRecords keyBuilder_;
  TRecords imageBuilder_;
};

}  // namespace tv
