// What `tovalink explain` found in a file, ready to print as text or JSON:
// one item per line (goods files) or per key and keyboard (keyboard files),
// and every frame a scale would receive, decoded field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "decode/decode.h"

namespace tv {

struct TExplainItem {
  std::string text;  // one line of the listing
  std::string json;  // the same as a JSON object
  bool skipped = false;
};

struct TExplainFrame {
  std::string title;  // "delete", "goods record", "key record" ...
  std::string from;   // "line 3", "keyboard 1, key 2"
  std::vector<uint8_t> bytes;
  decode::TFrameFields fields;
  std::string json;  // the decoder's object
};

struct TExplainReport {
  std::string file;
  std::string kind;                 // "goods" or "keyboard"
  std::vector<std::string> header;  // what the file was read with
  std::string valuesJson;           // the same as a JSON object
  std::vector<TExplainItem> items;
  std::vector<TExplainFrame> frames;
  std::vector<std::string> notes;
  bool refused = false;  // a keyboard file the service would not upload

  // 0 every item accepted, 2 something skipped or the file refused.
  int ExitCode() const;
  // Adds a frame and gives its 1-based number.
  size_t AddFrame(TExplainFrame frame);
};

void PrintReport(const TExplainReport& report, bool json, std::ostream& out);

}  // namespace tv
