// A keyboard-layout XML file read into the records it asks for: for every
// processed `keyboard` element the keys to send and, for a new keyboard
// that got at least one key, its keyboard record.  Reading everything first
// means a file that cannot be read or encoded is known before a scale is
// contacted.
#pragma once

#include <string>
#include <vector>

#include "sm700/Records.h"

namespace tv {

// One processed `keyboard` element, in document order.
struct TKeyboardElement {
  std::vector<TKeyInfo> keys;
  bool sendKeyboard = false;  // its keyboard record follows its keys
  TKeyboardInfo keyboard;
};

class TKeyboardDocument {
 public:
  // Parses `bytes`; texts and attribute values stay Windows-1251 bytes
  // whatever encoding the document declares.  False when the document is
  // not well-formed, lacks `xml_archive` or its first `keyboard`, or holds a
  // key to send whose key_index, numbers or file name cannot be encoded.
  bool Parse(const std::string& bytes);

  const std::vector<TKeyboardElement>& Elements() const { return elements_; }
  // Why the last Parse failed, in an operator's words; empty after success.
  const std::string& Error() const { return error_; }
  // The elements and keys the upload passes over, as the walk has always
  // done without a word ("line 7: key without key_index").
  const std::vector<std::string>& PassedOver() const { return passedOver_; }

 private:
  std::vector<TKeyboardElement> elements_;
  std::string error_;
  std::vector<std::string> passedOver_;
};

}  // namespace tv
