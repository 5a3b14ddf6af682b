#include "sm700/XMLKeyboard.h"

#include "platform/env.h"

namespace tv {
namespace {

constexpr int kFirstImageNumber = 100;

}  // namespace

int TXmlKeyboardFile::Execute() {
  SetImageNumber(kFirstImageNumber);
  std::string bytes;
  TKeyboardDocument document;
  if (!platform::Env::Default()->ReadFile(fileName_, &bytes).ok() || !document.Parse(bytes)) {
    resultCode_ = kKbFileUnreadable;
  } else if (!sender_.Connect()) {
    resultCode_ = kKbNoConnection;
  } else if (!sender_.OpenSession()) {
    resultCode_ = kKbNoHello;
  } else {
    UploadKeyboardFile(document);
    sender_.Disconnect();
  }
  return resultCode_;
}

bool TXmlKeyboardFile::UploadKeyboardFile(const TKeyboardDocument& document) {
  for (const TKeyboardElement& element : document.Elements()) {
    if (Terminated()) return false;
    for (const TKeyInfo& key : element.keys) {
      if (!sender_.SendKey(key)) {
        resultCode_ = kKbKeyRefused;
        return false;
      }
    }
    if (element.sendKeyboard && !sender_.SendKeyboard(element.keyboard)) {
      resultCode_ = kKbKeyboardRefused;
      return false;
    }
  }
  return true;
}

}  // namespace tv
