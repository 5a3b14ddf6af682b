#include <string>
#include <utility>

#include "decode/json.h"
#include "scale/resultmeaning.h"
#include "cli/explainfile.h"
#include "sm700/Records.h"
#include "sm700/XMLKeyboard.h"
#include "sm700/XMLKeyboard_parse.h"

namespace tv {
namespace {

constexpr int kFirstImageNumber = 100;  // every upload starts the image numbers here

std::string Utf8(const std::string& win1251) {
  return decode::ToUtf8(win1251, decode::TextCodePage::Win1251);
}

// Builds and frames records exactly as an upload's sender does.
class RecordFramer {
 public:
  explicit RecordFramer(TExplainReport& report) : report_(report) {}

  // The frame number of the record `builder` holds, 0 when it has none.
  size_t Add(const TRecords& builder, const char* title, const std::string& from) {
    if (builder.List().empty()) return 0;
    framer_.SetKind(builder.Kind());
    const int length = framer_.FrameRecord(builder.List()[0]);
    if (length <= 0) return 0;
    TExplainFrame frame;
    frame.title = title;
    frame.from = from;
    frame.bytes.assign(framer_.Frame(), framer_.Frame() + length);
    frame.json = decode::DecodeSm700Frame(frame.bytes.data(), frame.bytes.size(), &frame.fields);
    return report_.AddFrame(std::move(frame));
  }

 private:
  TExplainReport& report_;
  TRecords framer_;
};

void AddItem(TExplainReport& report, const std::string& text, decode::JsonObject& json,
             size_t first, size_t last) {
  std::string frames = first == last
                           ? "frame " + std::to_string(first)
                           : "frames " + std::to_string(first) + "-" + std::to_string(last);
  json.Int("firstFrame", static_cast<int64_t>(first)).Int("lastFrame", static_cast<int64_t>(last));
  report.items.push_back({text + " -> " + frames, json.Text(), false});
}

void ExplainKey(const TKeyInfo& key, RecordFramer& framer, TExplainReport& report) {
  TRecords keyRecord, imageRecords;
  const std::string from =
      "keyboard " + std::to_string(key.KeyboardNo) + ", key " + std::to_string(key.KeyNo);
  keyRecord.BuildKeyRecord(key);
  const size_t first = framer.Add(keyRecord, "key record", from);
  NextImageNumber();
  imageRecords.BuildImagePathRecord(key);
  framer.Add(imageRecords, "image path record", from);
  imageRecords.BuildImageRecord(key);
  const size_t last = framer.Add(imageRecords, "image record", from);
  decode::JsonObject j;
  j.Int("keyboard", key.KeyboardNo).Int("key", key.KeyNo).Int("keyIndex", key.KeyIndex);
  j.Str("text", Utf8(key.Text))
      .Str("image", Utf8(key.FileName))
      .Int("imageNumber", CurrentImageNumber());
  AddItem(report,
          from + ": key_index " + std::to_string(key.KeyIndex) + ", text \"" + Utf8(key.Text) +
              "\", image " + Utf8(key.FileName) + " (number " +
              std::to_string(CurrentImageNumber()) + ")",
          j, first, last);
}

void ExplainKeyboard(const TKeyboardInfo& keyboard, RecordFramer& framer, TExplainReport& report) {
  TRecords record;
  record.BuildKeyboardRecord(keyboard);
  const std::string from = "keyboard " + std::to_string(keyboard.Number);
  const size_t n = framer.Add(record, "keyboard record", from);
  decode::JsonObject j;
  j.Int("keyboard", keyboard.Number).Str("name", Utf8(keyboard.Name));
  AddItem(report, from + ": keyboard record \"" + Utf8(keyboard.Name) + "\"", j, n, n);
}

// Only SM700 scales take layouts; with none listed the service rejects the
// file unread.
void DescribeReceivers(const std::optional<std::vector<int>>& sm700, TExplainReport& report) {
  if (!sm700) {
    report.header.push_back(
        "uploaded to every SM700 scale of the list in turn (the list cannot be read)");
    return;
  }
  if (sm700->empty()) {
    report.header.push_back("received by no scale: the scale list has no SM700");
    report.notes.push_back(
        "the service would move the file to Rejected: keyboard layouts go to SM700 scales only");
    report.refused = true;
    return;
  }
  std::string list;
  for (int n : *sm700) list += (list.empty() ? "" : ", ") + std::to_string(n);
  report.header.push_back(
      std::string(sm700->size() == 1 ? "uploaded to SM700 scale " : "uploaded to SM700 scales ") +
      list + " in turn, at port 2000 + the scale number");
}

}  // namespace

void ExplainKeyboardFile(const std::string& bytes, const std::optional<std::vector<int>>& sm700,
                         TExplainReport& report) {
  report.kind = "keyboard";
  report.valuesJson = "{}";
  DescribeReceivers(sm700, report);
  TKeyboardDocument document;
  if (!document.Parse(bytes)) {
    report.refused = true;
    report.notes.push_back("refused: " + document.Error());
    report.notes.push_back("the service would not contact a scale: code " +
                           std::to_string(kKbFileUnreadable) + ", " +
                           ResultMeaning(kKbFileUnreadable) + "; the file goes to Rejected");
    return;
  }
  for (const std::string& p : document.PassedOver()) report.notes.push_back("not uploaded: " + p);
  SetImageNumber(kFirstImageNumber);
  RecordFramer framer(report);
  for (const TKeyboardElement& element : document.Elements()) {
    for (const TKeyInfo& key : element.keys) ExplainKey(key, framer, report);
    if (element.sendKeyboard) ExplainKeyboard(element.keyboard, framer, report);
  }
  if (report.frames.empty())
    report.notes.push_back(
        "no key to upload: the scales would receive no record, and the file counts as delivered");
}

}  // namespace tv
