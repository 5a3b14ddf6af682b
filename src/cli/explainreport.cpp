#include "cli/explainreport.h"

#include <algorithm>
#include <iomanip>
#include <ostream>

#include "cli/exitcode.h"
#include "decode/bytes.h"
#include "decode/json.h"

namespace tv {
namespace {

constexpr size_t kBytesPerRow = 16;

std::string SpacedHex(const uint8_t* p, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += (i ? " " : "") + decode::Hex(p[i]);
  return out;
}

// One field: its bytes in rows of sixteen, the name and value beside the
// first row.
void PrintField(const TExplainFrame& frame, const decode::TFrameField& f, std::ostream& out) {
  const size_t end = std::min(f.offset + f.size, frame.bytes.size());
  std::string label = f.name + (f.value.empty() ? "" : ": " + f.value);
  for (size_t row = f.offset; row < end || row == f.offset; row += kBytesPerRow) {
    const size_t n = std::min(kBytesPerRow, end > row ? end - row : 0);
    const std::string hex = SpacedHex(frame.bytes.data() + row, n);
    if (label.empty())
      out << "    " << hex << "\n";
    else
      out << "    " << std::left << std::setw(47) << hex << "  " << label << "\n";
    label.clear();
    if (n == 0) break;
  }
}

void PrintFrame(size_t number, const TExplainFrame& frame, std::ostream& out) {
  out << "frame " << number << ": " << frame.title << ", " << frame.bytes.size() << " bytes ("
      << frame.from << ")\n";
  size_t covered = 0;
  for (const decode::TFrameField& f : frame.fields) {
    PrintField(frame, f, out);
    covered = std::max(covered, f.offset + f.size);
  }
  // Whatever the decoder could not place is still shown.
  if (covered < frame.bytes.size())
    PrintField(frame, {covered, frame.bytes.size() - covered, "not decoded", ""}, out);
}

void PrintText(const TExplainReport& r, std::ostream& out) {
  out << r.file << ": " << r.kind << " file\n";
  for (const std::string& h : r.header) out << "  " << h << "\n";
  for (const std::string& n : r.notes) out << "note: " << n << "\n";
  out << "\n";
  size_t skipped = 0;
  for (const TExplainItem& item : r.items) {
    out << item.text << "\n";
    skipped += item.skipped;
  }
  if (r.kind == "goods")
    out << r.items.size() << " lines: " << r.items.size() - skipped << " accepted, " << skipped
        << " skipped; " << r.frames.size() << " frames\n";
  for (size_t i = 0; i < r.frames.size(); ++i) {
    out << "\n";
    PrintFrame(i + 1, r.frames[i], out);
  }
}

std::string JsonArray(const std::vector<std::string>& objects) {
  std::string out = "[";
  for (size_t i = 0; i < objects.size(); ++i) out += (i ? "," : "") + objects[i];
  return out + "]";
}

void PrintJson(const TExplainReport& r, std::ostream& out) {
  std::vector<std::string> items, frames, notes;
  size_t skipped = 0;
  for (const TExplainItem& item : r.items) {
    items.push_back(item.json);
    skipped += item.skipped;
  }
  for (size_t i = 0; i < r.frames.size(); ++i) {
    decode::JsonObject f;
    f.Int("frame", static_cast<int64_t>(i + 1))
        .Str("from", r.frames[i].from)
        .Raw("decoded", r.frames[i].json);
    frames.push_back(f.Text());
  }
  for (const std::string& n : r.notes) notes.push_back(decode::JsonQuote(n));
  decode::JsonObject j;
  j.Str("file", r.file).Str("kind", r.kind).Raw("values", r.valuesJson);
  j.Raw(r.kind == "goods" ? "lines" : "records", JsonArray(items));
  j.Int("accepted", static_cast<int64_t>(r.items.size() - skipped))
      .Int("skipped", static_cast<int64_t>(skipped));
  if (r.kind == "keyboard") j.Bool("refused", r.refused);
  j.Raw("frames", JsonArray(frames)).Raw("notes", JsonArray(notes));
  out << j.Text() << "\n";
}

}  // namespace

int TExplainReport::ExitCode() const {
  if (refused) return cli::kExitSomeLineSkipped;
  return std::any_of(items.begin(), items.end(), [](const TExplainItem& i) { return i.skipped; })
             ? cli::kExitSomeLineSkipped
             : cli::kExitDone;
}

size_t TExplainReport::AddFrame(TExplainFrame frame) {
  frames.push_back(std::move(frame));
  return frames.size();
}

void PrintReport(const TExplainReport& report, bool json, std::ostream& out) {
  if (json)
    PrintJson(report, out);
  else
    PrintText(report, out);
}

}  // namespace tv
