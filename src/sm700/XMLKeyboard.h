// The upload of one keyboard-layout XML file to one SM700 scale, as a
// worker thread whose result is the upload's result code.  The document is
// read and checked before the scale is contacted, so a file that cannot be
// read never counts as delivered.
#pragma once

#include <atomic>
#include <string>

#include "platform/thread.h"
#include "sm700/Sender.h"
#include "sm700/XMLKeyboard_parse.h"

namespace tv {

constexpr int kKbResultOk = 0;
constexpr int kKbNoHello = 13;          // the opening exchange failed
constexpr int kKbKeyboardRefused = 14;  // a keyboard record was not accepted
constexpr int kKbNoConnection = 15;     // the scale could not be reached
constexpr int kKbKeyRefused = 16;       // a key, image path or image record was not accepted
constexpr int kKbFileUnreadable = 17;   // the keyboard file cannot be read or encoded

class TXmlKeyboardFile : public platform::Thread {
 public:
  // `sender` belongs to the creator and must outlive the thread.
  TXmlKeyboardFile(TSender& sender, std::string fileName)
      : sender_(sender), fileName_(std::move(fileName)) {}
  ~TXmlKeyboardFile() override { WaitFor(); }

  // Valid once the thread has ended.
  int ResultCode() const { return resultCode_.load(); }

 protected:
  int Execute() override;

 private:
  // Sends the document's keys and keyboards; false when the scale refused a
  // record (the result code says which) or termination was requested.
  bool UploadKeyboardFile(const TKeyboardDocument& document);

  TSender& sender_;
  std::string fileName_;
  std::atomic<int> resultCode_{kKbResultOk};
};

}  // namespace tv
