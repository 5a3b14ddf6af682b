// Import line processing: goods lines of the three import types, the goods'
// ingredient and message text, deletion entries and the clock line.
#include <algorithm>

#include "files/importtype.h"
#include "scale/fieldtext.h"
#include "scale/goodsencoder.h"

namespace tv {
namespace {

constexpr size_t kFixedLineLength = 132;
constexpr int kDelimitedLayout1ASeparators = 10;
constexpr int kExtendedTextPieces = 15;

void AssignPrefix(std::string& to, std::string_view from, size_t maxChars) {
  to.assign(from.substr(0, maxChars));
}

// Why a delimited goods line cannot be read, in the layout's own terms.
constexpr const char* k1A = "layout 1A (10 separators)";
constexpr const char* k1B = "layout 1B";
constexpr const char* kExtended = "extended layout";

std::string NoSeparatorAfter(const char* layout, const char* field) {
  return std::string(layout) + ": no separator after the " + field + " field";
}

std::string MissingOrEmpty(const char* layout, const char* field) {
  return std::string(layout) + ": the " + field + " field is missing or empty";
}

void ReplaceAll(std::string& s, char from, char to) {
  std::replace(s.begin(), s.end(), from, to);
}

// Reads one clock part; values that cannot be written as two BCD digits
// fail instead of producing a garbled frame.
bool ClockPart(std::string_view text, int& value) {
  int32_t v = 0;
  if (!ParseDecimalInt(text, v)) return false;
  value = v;
  return true;
}

bool ClockFits(const TClockSetting& t) {
  for (int v : {t.day, t.month, t.year, t.hour, t.minute}) {
    if (v < 0 || v > 99) return false;
  }
  return true;
}

bool SetYear(int fullYear, TClockSetting& out) {
  if (fullYear < 0) return false;
  out.year = fullYear % 100;
  return true;
}

}  // namespace

TClockSetting ClockSettingOf(const platform::LocalTime& t) {
  TClockSetting c;
  c.day = t.day;
  c.month = t.month;
  c.year = ((t.year % 100) + 100) % 100;
  c.hour = t.hour;
  c.minute = t.minute;
  return c;
}

void TGoodsEncoder::ClearImportRecord() {
  TImportRecord& r = importRecord;
  for (std::string* s : {&r.Barcode, &r.Code, &r.Reserved1, &r.Reserved2, &r.Price, &r.ShelfLife,
                         &r.Reserved3, &r.UseByFlag, &r.Name, &r.ExtraText}) {
    s->clear();
  }
  r.KindFlag = 0;
  r.AltLabelFlag = 0;
  r.LabelFormat = 0;
  r.Extended = false;
}

bool TGoodsEncoder::Expect(const std::string& problem) {
  lineProblem = problem;
  return false;
}

bool TGoodsEncoder::ParseGoodsLine(std::string_view entry) {
  ClearImportRecord();
  lineProblem.clear();
  switch (profile.ImportType) {
    case itFixed: return ReadFixedLine(entry);
    case itDelimited: return ReadDelimitedLine(entry);
    case itExtended: return ReadExtendedLine(entry);
    default:
      return Expect("ImportType " + std::to_string(profile.ImportType) + " reads no goods line");
  }
}

bool TGoodsEncoder::ReadFixedLine(std::string_view entry) {
  if (entry.size() != kFixedLineLength)
    return Expect("the fixed layout needs " + std::to_string(kFixedLineLength) +
                  " characters after the A, not " + std::to_string(entry.size()));
  TImportRecord& r = importRecord;
  std::string_view s(entry);
  r.Barcode.assign(s.substr(0, 12));
  r.Code.assign(s.substr(12, 15));
  r.Reserved1.assign(s.substr(27, 4));
  r.Reserved2.assign(s.substr(31, 4));
  r.KindFlag = s[35];
  r.AltLabelFlag = s[36];
  r.Price.assign(s.substr(37, 8));
  r.ShelfLife.assign(s.substr(45, 3));
  r.Reserved3.assign(s.substr(48, 4));
  std::string_view name = s.substr(52, 80);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  r.Name.assign(name);
  int32_t code = 0;
  if (ParseDecimalInt(r.Code, code) && code != 0) return true;
  return Expect("the goods number (characters 13 to 27) \"" + r.Code +
                "\" is not a number other than 0");
}

bool TGoodsEncoder::ReadDelimitedLine(std::string_view entry) {
  // The layout is told by the host's separator, the fields are cut with the
  // client's.
  long hostSeparators = std::count(entry.begin(), entry.end(), host.listSeparator);
  return hostSeparators == kDelimitedLayout1ASeparators ? ReadLayout1A(entry) : ReadLayout1B(entry);
}

bool TGoodsEncoder::ReadLayout1A(std::string_view entry) {
  TImportRecord& r = importRecord;
  const char sep = listSeparator;
  size_t pos = entry.find(sep);
  if (pos == std::string::npos) return Expect(std::string(k1A) + ": no '" + sep + "' in the line");
  ++pos;
  std::string_view f;
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1A, "barcode"));
  AssignPrefix(r.Barcode, TrimBlanks(f), 12);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1A, "goods number"));
  AssignPrefix(r.Code, TrimBlanks(f), 15);
  if (!NextField(entry, pos, sep, f) || !NextField(entry, pos, sep, f))
    return Expect(NoSeparatorAfter(k1A, "third or fourth"));
  if (!NextField(entry, pos, sep, f) || TrimBlanks(f).empty())
    return Expect(MissingOrEmpty(k1A, "kind flag"));
  r.KindFlag = TrimBlanks(f).front();
  if (!NextField(entry, pos, sep, f) || TrimBlanks(f).empty())
    return Expect(MissingOrEmpty(k1A, "alternative label flag"));
  r.AltLabelFlag = TrimBlanks(f).front();
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1A, "price"));
  AssignPrefix(r.Price, TrimBlanks(f), 8);
  ReplaceAll(r.Price, decimalSeparator, host.decimalSeparator);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1A, "shelf life"));
  AssignPrefix(r.ShelfLife, TrimBlanks(f), 3);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1A, "tenth"));
  AssignPrefix(r.Name, std::string_view(entry).substr(pos), 80);
  return true;
}

bool TGoodsEncoder::ReadLayout1B(std::string_view entry) {
  TImportRecord& r = importRecord;
  const char sep = listSeparator;
  if (entry.empty()) return Expect("an empty A line has no fields");
  size_t pos = 1;
  std::string_view f;
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1B, "goods number"));
  AssignPrefix(r.Code, f, 15);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1B, "barcode"));
  AssignPrefix(r.Barcode, f, 12);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1B, "price"));
  AssignPrefix(r.Price, f, 8);
  ReplaceAll(r.Price, decimalSeparator, host.decimalSeparator);
  if (!NextField(entry, pos, sep, f) || f.empty())
    return Expect(MissingOrEmpty(k1B, "kind flag"));
  r.KindFlag = f.front();
  if (!NextField(entry, pos, sep, f) || f.empty())
    return Expect(MissingOrEmpty(k1B, "alternative label flag"));
  r.AltLabelFlag = f.front();
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(k1B, "shelf life"));
  AssignPrefix(r.ShelfLife, f, 3);
  if (NextField(entry, pos, sep, f)) AssignPrefix(r.UseByFlag, TrimBlanks(f), 1);
  AssignPrefix(r.Name, std::string_view(entry).substr(pos), 80);
  return true;
}

bool TGoodsEncoder::ReadExtendedLine(std::string_view entry) {
  TImportRecord& r = importRecord;
  r.Extended = true;
  const char sep = host.listSeparator;
  if (entry.empty()) return Expect("an empty A line has no fields");
  size_t pos = 1;
  std::string_view f;
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "barcode"));
  AssignPrefix(r.Barcode, f, 12);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "goods number"));
  AssignPrefix(r.Code, f, 15);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "first reserved"));
  AssignPrefix(r.Reserved1, f, 4);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "second reserved"));
  AssignPrefix(r.Reserved2, f, 4);
  if (!NextField(entry, pos, sep, f) || f.empty())
    return Expect(MissingOrEmpty(kExtended, "kind flag"));
  r.KindFlag = f.front();
  if (!NextField(entry, pos, sep, f) || f.empty())
    return Expect(MissingOrEmpty(kExtended, "alternative label flag"));
  r.AltLabelFlag = f.front();
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "price"));
  AssignPrefix(r.Price, f, 8);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "shelf life"));
  AssignPrefix(r.ShelfLife, f, 3);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "third reserved"));
  AssignPrefix(r.Reserved3, f, 4);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "extra text"));
  r.ExtraText.assign(f);
  if (!NextField(entry, pos, sep, f)) return Expect(NoSeparatorAfter(kExtended, "label format"));
  r.LabelFormat = DecimalIntOrZero(f);
  if (NextField(entry, pos, sep, f)) {
    AssignPrefix(r.Name, f, 80);
    StoreExtendedText(entry, pos);
  } else {
    AssignPrefix(r.Name, std::string_view(entry).substr(pos), 80);
  }
  return true;
}

// The goods' text that follows the name: up to fifteen pieces, each ending
// in CR LF, replacing what the table held for the Code.
//
// The text goes into the encoder's own table, never into the file's: an
// encoding reads the file exactly as one client reading it alone, seeing the
// I lines and the texts of the extended lines before the current one.  Its
// frames therefore do not depend on which other profiles were encoded first.
// The only thing the extended layout takes from the table is whether a text
// exists (it has no segment terminator, so no line is ever cut from it), and
// an extended line that carries a text stores it before it is looked up, so
// for such lines any reading order gives the same frames.  A line without a
// text finds one only from an I line or an earlier line of the same Code, as
// a client delivering the file alone always did; a text that a later line of
// the same Code stores is not seen (clients running side by side on a shared
// table could see it, depending on which of them ran ahead).
void TGoodsEncoder::StoreExtendedText(std::string_view entry, size_t pos) {
  const char sep = host.listSeparator;
  std::string value;
  for (int piece = 1; piece <= kExtendedTextPieces; ++piece) {
    size_t end = entry.find(sep, pos);
    bool last = end == std::string::npos || piece == kExtendedTextPieces;
    value.append(entry, pos, end == std::string::npos ? std::string::npos : end - pos);
    value.append("\r\n");
    if (last) break;
    pos = end + 1;
  }
  extendedTexts.Set(importRecord.Code, value);
}

bool TGoodsEncoder::LoadIngredientText(std::string_view key) {
  for (TTextLine& line : record.ingredientLines) line.text.clear();
  if (!GoodsText(key, textValue) || textValue.empty()) return false;
  char terminator = 0;
  switch (profile.ImportType) {
    case itFixed: terminator = '\x03'; break;
    case itDelimited: terminator = host.listSeparator; break;
    default: return true;  // the extended layout has no segment terminator
  }
  const size_t columns = static_cast<size_t>(std::max(0, profile.INGRCOLCount));
  const size_t width = std::min(kMaxTextLineChars, columns);
  size_t pos = 0;
  for (TTextLine& line : record.ingredientLines) {
    size_t end = textValue.find(terminator, pos);
    if (end == std::string::npos) break;
    line.text.assign(textValue, pos, std::min(end - pos, width));
    pos = end + 1;
  }
  return true;
}

bool TGoodsEncoder::GoodsText(std::string_view key, std::string& value) const {
  return extendedTexts.Get(key, value) || texts.Get(key, value);
}

void TGoodsEncoder::SplitMessageLines() {
  const int rows = std::clamp(profile.INGRROWCount, 0, kIngredientLineCount);
  const int messageRows = std::min(kMessageLineCount, profile.MaxMessRowCount);
  const size_t columns = static_cast<size_t>(std::max(0, profile.SMESSCOLCount));
  for (TTextLine& line : record.messageLines) line.text.clear();
  for (int i = rows + 1; i <= kIngredientLineCount; ++i) {
    std::string& from = record.ingredientLines[i - 1].text;
    int j = i - rows;
    if (j <= messageRows) record.messageLines[j - 1].text.assign(from, 0, columns);
    from.assign(" ");
  }
}

std::optional<int32_t> TGoodsEncoder::ParseDeletionEntry(std::string_view entry) const {
  std::string_view s(entry);
  if (s.empty()) return std::nullopt;
  if (s.front() == host.listSeparator) s.remove_prefix(1);
  int32_t number = 0;
  // A negative number names no goods; it is skipped like any other non-number.
  if (!ParseDecimalInt(s, number) || number < 0) return std::nullopt;
  return number;
}

bool TGoodsEncoder::ParseClockLine(std::string_view entry, TClockSetting& out) const {
  switch (ReadClockLine(entry, out)) {
    case TClockLine::Fixed: return true;
    case TClockLine::CurrentTime: out = ClockSettingOf(clock.Now()); return true;
    default: return false;
  }
}

TClockLine TGoodsEncoder::ReadClockLine(std::string_view entry, TClockSetting& out) const {
  if (entry.empty()) return TClockLine::CurrentTime;
  std::string_view s(entry);
  TClockSetting t;
  int year = 0;
  if (profile.ImportType == itFixed) {
    if (s.size() != 12) return TClockLine::Unreadable;
    if (!ClockPart(s.substr(0, 4), year) || !ClockPart(s.substr(4, 2), t.month) ||
        !ClockPart(s.substr(6, 2), t.day) || !ClockPart(s.substr(8, 2), t.hour) ||
        !ClockPart(s.substr(10, 2), t.minute)) {
      return TClockLine::Unreadable;
    }
  } else {
    size_t first = s.find(listSeparator);
    if (first == std::string_view::npos) return TClockLine::CurrentTime;
    std::string_view fields[5];
    size_t count = 0;
    size_t pos = first + 1;
    for (;;) {
      size_t end = s.find(listSeparator, pos);
      std::string_view field = s.substr(pos, end == std::string_view::npos ? s.npos : end - pos);
      if (count < 5) fields[count] = field;
      ++count;
      if (end == std::string_view::npos) break;
      pos = end + 1;
    }
    if (count == 1) return TClockLine::CurrentTime;
    if (count < 5) return TClockLine::Unreadable;
    if (!ClockPart(fields[0], year) || !ClockPart(fields[1], t.month) ||
        !ClockPart(fields[2], t.day) || !ClockPart(fields[3], t.hour) ||
        !ClockPart(fields[4], t.minute)) {
      return TClockLine::Unreadable;
    }
  }
  if (!SetYear(year, t) || !ClockFits(t)) return TClockLine::Unreadable;
  out = t;
  return TClockLine::Fixed;
}

std::string TGoodsEncoder::ClockLineExpectation() const {
  if (profile.ImportType == itFixed)
    return "T line that cannot be read: the fixed layout needs 12 digits, YYYYMMDDhhmm";
  const std::string sep(1, listSeparator);
  return "T line that cannot be read: expected " + sep + "year" + sep + "month" + sep + "day" +
         sep + "hour" + sep + "minute in numbers (or no '" + sep + "' for the time of sending)";
}

size_t TGoodsEncoder::FrameDeletion(int32_t goodsNumber) {
  // A number of more than eight digits contributes its first eight.
  int64_t n = goodsNumber < 0 ? 0 : goodsNumber;
  while (n > 99999999) n /= 10;
  TRecordWriter out(frameBuffer->data(), frameBuffer->size());
  out.Byte(goods::kDeleteFrame);
  out.Byte(goods::kGoodsCommand);
  out.Bcd(n, 8);
  return out.Ok() ? out.Size() : 0;
}

size_t TGoodsEncoder::FrameClock(const TClockSetting& when) {
  return tv::FrameClock(when, frameBuffer->data(), frameBuffer->size());
}

size_t FrameClock(const TClockSetting& when, uint8_t* frame, size_t capacity) {
  TRecordWriter out(frame, capacity);
  const uint8_t head[] = {goods::kRecordFrame, goods::kClockCommand, 0x00, 0x00, 0x00, 0xFF, 0x00};
  for (uint8_t b : head) out.Byte(b);
  out.Bcd(when.day, 2);
  out.Bcd(when.month, 2);
  out.Bcd(when.year, 2);
  out.Byte(0x00);
  out.Byte(0x00);
  out.Bcd(when.hour, 2);
  out.Bcd(when.minute, 2);
  return out.Ok() ? out.Size() : 0;
}

}  // namespace tv
