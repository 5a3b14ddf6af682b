#include "sm700/Sender.h"

namespace tv {

TSender::TSender(uint8_t scaleNumber, const std::string& address, int basePort, int timeoutMs)
    : uploader_(basePort, timeoutMs) {
  uploader_.SetAddress(scaleNumber, address);
}

// A builder that could not encode its record leaves no text; that record
// was not delivered, so it fails like a refused one.
bool TSender::SendBuilt(const TRecords& builder) {
  if (builder.List().empty()) return false;
  uploader_.Framer().SetKind(builder.Kind());
  return uploader_.SendRecord(builder.List()[0]);
}

bool TSender::SendKey(const TKeyInfo& key) {
  keyBuilder_.BuildKeyRecord(key);
  if (!SendBuilt(keyBuilder_)) return false;
  NextImageNumber();
  imageBuilder_.BuildImagePathRecord(key);
  if (!SendBuilt(imageBuilder_)) return false;
  imageBuilder_.BuildImageRecord(key);
  return SendBuilt(imageBuilder_);
}

bool TSender::SendKeyboard(const TKeyboardInfo& keyboard) {
  keyboardBuilder_.BuildKeyboardRecord(keyboard);
  return SendBuilt(keyboardBuilder_);
}

}  // namespace tv
