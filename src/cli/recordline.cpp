#include "cli/recordline.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

#include "decode/decode.h"
#include "files/importparse.h"
#include "files/importtype.h"
#include "platform/oem.h"
#include "scale/encodedfile.h"
#include "text/cyrillic.h"

namespace tv {
namespace {

constexpr uint8_t kConstBarcodeType = 8;
constexpr size_t kFixedNameChars = 80;
constexpr size_t kPriceChars = 8;

// What a goods frame holds, read back from its bytes.
struct TRecordFields {
  int32_t goods = 0;
  uint8_t flags[5] = {};
  int64_t cents = 0;
  uint8_t labelFormat = 0;
  uint8_t barcodeType = 0;
  std::string barcode;  // 14 hex digits
  int64_t shelfA = 0, shelfB = 0, shelfC = 0;
  std::vector<std::string> name, ingredients, message;  // in the scale's code page

  bool Flag(int flag, int bit) const { return (flags[flag - 1] >> bit & 1) != 0; }
};

class TRecordReader {
 public:
  explicit TRecordReader(const std::vector<uint8_t>& frame)
      : p_(frame.data()), end_(p_ + frame.size()) {}

  bool Read(TRecordFields& r) {
    if (!Skip(2) || !Bcd(4, r.goods) || !Skip(2)) return false;
    for (uint8_t& f : r.flags)
      if (!Byte(f)) return false;
    if (!Bcd(4, r.cents) || !Byte(r.labelFormat) || !Byte(r.barcodeType)) return false;
    for (int i = 0; i < 7; ++i) {
      uint8_t b = 0;
      if (!Byte(b)) return false;
      r.barcode += Hex(b >> 4);
      r.barcode += Hex(b & 0x0F);
    }
    int64_t ignored = 0;
    // The optional fields in the order a record carries them.
    const struct {
      int flag, bit, bytes;
      int64_t* into;
    } optional[] = {{3, 4, 2, &ignored},  {5, 0, 2, &r.shelfA}, {5, 1, 2, &r.shelfB},
                    {5, 2, 2, &r.shelfC}, {5, 3, 2, &ignored},  {5, 4, 2, &ignored},
                    {3, 6, 2, &ignored},  {3, 7, 2, &ignored},  {4, 0, 1, &ignored},
                    {4, 1, 1, &ignored},  {4, 2, 1, &ignored},  {5, 5, 1, &ignored}};
    for (const auto& o : optional)
      if (r.Flag(o.flag, o.bit) && !Bcd(o.bytes, *o.into)) return false;
    return (!r.Flag(4, 5) || Lines(r.name)) && (!r.Flag(4, 7) || Lines(r.ingredients)) &&
           (!r.Flag(4, 6) || Lines(r.message));
  }

 private:
  static char Hex(int nibble) { return "0123456789ABCDEF"[nibble & 0x0F]; }
  bool Skip(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) return false;
    p_ += n;
    return true;
  }
  bool Byte(uint8_t& b) {
    if (p_ >= end_) return false;
    b = *p_++;
    return true;
  }
  template <typename T>
  bool Bcd(int bytes, T& value) {
    value = 0;
    for (int i = 0; i < bytes; ++i) {
      uint8_t b = 0;
      if (!Byte(b) || (b >> 4) > 9 || (b & 0x0F) > 9) return false;
      value = value * 100 + (b >> 4) * 10 + (b & 0x0F);
    }
    return true;
  }
  // Font, length, characters, then CR while more lines follow, else FF.
  bool Lines(std::vector<std::string>& out) {
    for (;;) {
      uint8_t font = 0, count = 0, last = 0;
      if (!Byte(font) || !Byte(count) || static_cast<size_t>(end_ - p_) < count + 1u) return false;
      out.emplace_back(reinterpret_cast<const char*>(p_), count);
      p_ += count;
      Byte(last);
      if (last == 0x0C) return true;
      if (last != 0x0D) return false;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
};

// Label text back into the file's code page: the inverse, byte by byte, of
// what the encoder did to it (CharToOemA, and the SM700's ISO 8859-5).
// Where several bytes give the same, the letter itself is taken over the
// look-alikes that the best fit folds onto it.
class TTextBack {
 public:
  explicit TTextBack(const TScaleProfile& p) : p_(p) {
    std::array<int, 256> from{};
    from.fill(-1);
    for (int b = 255; b >= 0; --b) from[Forward(static_cast<uint8_t>(b))] = b;
    for (int c = 0; c < 256; ++c) {
      const uint8_t natural = Natural(static_cast<uint8_t>(c));
      int b = from[c];
      if (Forward(static_cast<uint8_t>(c)) == c)
        b = c;
      else if (Forward(natural) == c)
        b = natural;
      back_[c] = static_cast<char>(b < 0 ? '?' : b);
    }
  }
  std::string operator()(const std::string& s) const {
    std::string out(s);
    for (char& c : out) c = back_[static_cast<uint8_t>(c)];
    return out;
  }

 private:
  uint8_t Forward(uint8_t c) const {
    if (p_.TextToOEM) c = platform::AnsiToOemChar(c);
    if (p_.ScaleType == TScaleType::SM700)
      c = text::ConvertChar(c, text::cpDos866, text::cpIso88595);
    return c;
  }
  uint8_t Natural(uint8_t c) const {
    if (p_.ScaleType == TScaleType::SM700)
      c = text::ConvertChar(c, text::cpIso88595, text::cpDos866);
    if (p_.TextToOEM) c = text::ConvertChar(c, text::cpDos866, text::cpWin1251);
    return c;
  }

  const TScaleProfile& p_;
  std::array<char, 256> back_{};
};

// "12.5", "3", "0.99": the shortest text of a price; the layouts give it
// eight characters.
std::string PriceText(int64_t cents) {
  char buf[32];
  if (cents % 100 == 0)
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(cents / 100));
  else if (cents % 10 == 0)
    std::snprintf(buf, sizeof buf, "%lld.%lld", static_cast<long long>(cents / 100),
                  static_cast<long long>(cents % 100 / 10));
  else
    std::snprintf(buf, sizeof buf, "%lld.%02lld", static_cast<long long>(cents / 100),
                  static_cast<long long>(cents % 100));
  return buf;
}

// The fields of a line, as the layouts read them.
struct TLineFields {
  std::string barcode, code, price, shelfLife, useBy, name;
  char kind = '0', alt = '0';
  int labelFormat = 0;
  bool hasText = false;
  std::vector<std::string> text;  // the goods' text, one piece per label line
};

// The barcode fields that give the record's digits.  A big platform's
// prefix replaces the field's first two characters, and without knowing how
// long the field was, each length that fits is one to try.
std::vector<std::string> BarcodeCandidates(const TRecordFields& r, const TScaleProfile& p) {
  const std::string d = r.barcode;
  if (p.ConstBarcode && r.barcodeType == kConstBarcodeType && r.Flag(1, 0))
    return {d.substr(0, 12)};
  if (p.ScaleType != TScaleType::BigPlatform) return {d.substr(0, 12)};
  const size_t prefix = std::min<size_t>(p.BarPrefix.size(), 12);
  std::vector<std::string> out = {"00" + d.substr(prefix, 12 - prefix)};
  for (size_t more = 12 - prefix + 1; more <= 10 && prefix + more <= 14; ++more)
    out.push_back("00" + d.substr(prefix, more));
  return out;
}

// The goods' text: the ingredient lines, then (after the rows the
// ingredient block takes) the message lines they were split into.
std::vector<std::string> TextPieces(const TRecordFields& r, const TScaleProfile& p,
                                    const TTextBack& back) {
  const size_t rows = static_cast<size_t>(std::clamp(p.INGRROWCount, 0, 23));
  std::vector<std::string> pieces;
  // Without rows of its own the block keeps one blank line: all went on.
  for (size_t i = 0; i < r.ingredients.size() && i < rows; ++i)
    pieces.push_back(back(r.ingredients[i]));
  const bool messages = r.message.size() > 1 || (r.message.size() == 1 && r.message[0] != " ");
  if (!messages) return pieces;
  for (const std::string& l : r.message) pieces.push_back(back(l));
  return pieces;
}

TLineFields FieldsOf(const TRecordFields& r, const TScaleProfile& p, const TTextBack& back) {
  TLineFields f;
  f.code = std::to_string(r.goods);
  f.price = PriceText(r.cents);
  f.kind = r.Flag(1, 0) ? '1' : '0';
  f.alt = r.Flag(2, 1) ? '1' : '0';
  f.labelFormat = r.labelFormat;
  if (p.ImportType == itExtended) {
    f.shelfLife = std::to_string(r.Flag(5, 2) ? r.shelfC : 0);
  } else {
    f.shelfLife = std::to_string(r.Flag(5, 0) ? r.shelfA : r.shelfB);
    f.useBy = r.Flag(5, 0) ? "0" : "1";
  }
  f.hasText = r.Flag(4, 7);
  if (f.hasText) f.text = TextPieces(r, p, back);
  return f;
}

std::string PadLeft(const std::string& s, size_t width, char with) {
  return s.size() >= width ? s : std::string(width - s.size(), with) + s;
}

std::string Joined(const std::vector<std::string>& pieces, char terminator) {
  std::string out;
  for (const std::string& piece : pieces) out += piece + terminator;
  return out;
}

// Fixed columns: barcode 12, code 15, two reserved 4, kind, alternative
// label, price 8, shelf life 3, reserved 4, name 80; the text goes in an I
// line under the very code field.
std::string FixedLines(const TLineFields& f) {
  const std::string code = PadLeft(f.code, 15, '0');
  // A price below 1 keeps its "0." padded with blanks: zeros are stripped.
  const bool belowOne = f.price.rfind("0.", 0) == 0;
  std::string a = "A" + f.barcode;
  a.resize(1 + 12, '0');
  a += code + "0000" + "0000" + f.kind + f.alt +
       PadLeft(f.price, kPriceChars, belowOne ? ' ' : '0') + PadLeft(f.shelfLife, 3, '0') + "0000";
  std::string name = f.name;
  name.resize(kFixedNameChars, ' ');
  a += name + "\r\n";
  if (!f.hasText) return a;
  return "I" + code + Joined(f.text, '\x03') + "\r\n" + a;
}

// Layout 1B: code, barcode, price, kind, alternative label, shelf life,
// use-by flag, name, split at the client's separator; the text in an I line
// of pieces each ended by the host's.
std::string DelimitedLines(const TLineFields& f, char sep, char hostSep) {
  std::string a = std::string("A") + sep + f.code + sep + f.barcode + sep + f.price + sep + f.kind +
                  sep + f.alt + sep + f.shelfLife + sep + f.useBy + sep + f.name + "\r\n";
  if (!f.hasText) return a;
  return std::string("I") + hostSep + f.code + hostSep + Joined(f.text, hostSep) + "\r\n" + a;
}

// The extended layout carries the label format and the text in the line;
// only whether a text exists reaches the record.
std::string ExtendedLines(const TLineFields& f, char sep) {
  const std::string s(1, sep);
  std::string a = "A" + s + f.barcode + s + f.code + s + "0" + s + "0" + s + f.kind + s + f.alt +
                  s + f.price + s + f.shelfLife + s + "0" + s + s + std::to_string(f.labelFormat) +
                  s + f.name;
  if (f.hasText) a += s + (f.text.empty() ? std::string(" ") : f.text.front());
  return a + "\r\n";
}

std::string LinesOf(const TLineFields& f, const TScaleProfile& p, const platform::Regional& host) {
  switch (p.ImportType) {
    case itFixed: return FixedLines(f);
    case itDelimited:
      return DelimitedLines(f, p.ListSeparator ? p.ListSeparator : host.listSeparator,
                            host.listSeparator);
    default: return ExtendedLines(f, host.listSeparator);
  }
}

// The names a split name may have come from: two lines were cut at a space,
// or, without one, at a fixed length.
std::vector<std::string> NameCandidates(const TRecordFields& r, const TTextBack& back) {
  if (r.name.empty()) return {""};
  const std::string first = back(r.name[0]);
  if (r.name.size() < 2) return {first};
  const std::string second = back(r.name[1]);
  return {first + " " + second, first + second};
}

// The text without the blank lines the encoder fills in up to the
// ingredient rows, as a back office writes it; else as the record has it.
std::vector<std::vector<std::string>> TextCandidates(const std::vector<std::string>& text) {
  std::vector<std::string> trimmed = text;
  while (trimmed.size() > 1 && trimmed.back() == " ") trimmed.pop_back();
  if (trimmed.size() == text.size()) return {text};
  return {trimmed, text};
}

TEncodedFile Encode(const std::string& file, const TScaleProfile& p,
                    const platform::Regional& host) {
  TLineLists lists;
  ParseImportBytes(file, p.ImportType, host.listSeparator, lists);
  TEncodedFile encoded;
  EncodeFile(lists, p, host, encoded);
  return encoded;
}

// The goods frame `encoded` gives for `goods`; empty when none.
std::vector<uint8_t> FrameFor(const TEncodedFile& encoded, int32_t goods) {
  std::vector<uint8_t> out;
  for (const TDeliveryStep& s : encoded.steps)
    if (s.kind == TStepKind::Goods && s.length && s.goodsNumber == goods)
      out.assign(encoded.Frame(s), encoded.Frame(s) + s.length);
  return out;
}

// The first field in which `made` differs from `held`, as the operator
// reads a frame.
std::string Difference(const std::vector<uint8_t>& held, const std::vector<uint8_t>& made,
                       const TEncodedFile& encoded) {
  if (made.empty())
    return encoded.firstSkipReason.empty() ? "no line of this layout makes a record of it"
                                           : "the line gives no record: " + encoded.firstSkipReason;
  decode::TFrameFields a, b;
  decode::DecodeGoodsFrame(held.data(), held.size(), decode::TextCodePage::Cp866, &a);
  decode::DecodeGoodsFrame(made.data(), made.size(), decode::TextCodePage::Cp866, &b);
  // The length follows from the other fields: it is named only alone.
  std::string length;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i].name == b[i].name && a[i].value == b[i].value && a[i].size == b[i].size) continue;
    if (a[i].name != b[i].name) return "its fields differ from " + a[i].name + " on";
    const std::string what = a[i].name + " " + a[i].value + " would be made as " + b[i].value;
    if (a[i].name != "record length") return what;
    if (length.empty()) length = what;
  }
  return length.empty() ? "its bytes would differ" : length;
}

// Whether `line` makes `frame` again; the first failure is kept in `out`.
bool Try(const std::vector<uint8_t>& frame, const TLineFields& line, const TScaleProfile& profile,
         const platform::Regional& host, TRecordLines& out) {
  const std::string lines = LinesOf(line, profile, host);
  const TEncodedFile encoded = Encode(lines, profile, host);
  const std::vector<uint8_t> made = FrameFor(encoded, out.goods);
  if (made == frame) {
    out.lines = lines;
    out.same = true;
    out.why.clear();
    return true;
  }
  if (out.lines.empty()) {
    out.lines = lines;
    out.why = Difference(frame, made, encoded);
  }
  return false;
}

}  // namespace

TRecordLines LinesOfRecord(const std::vector<uint8_t>& frame, const TScaleProfile& profile,
                           const platform::Regional& host) {
  TRecordLines out;
  TRecordFields fields;
  if (!TRecordReader(frame).Read(fields) || fields.goods == 0) {
    out.why = "the held bytes are no goods record that can be read";
    return out;
  }
  out.goods = fields.goods;
  const TTextBack back(profile);
  TLineFields line = FieldsOf(fields, profile, back);
  // Each field that has more than one possible source is tried in turn.
  for (const std::vector<std::string>& text : TextCandidates(line.text)) {
    line.text = text;
    for (const std::string& barcode : BarcodeCandidates(fields, profile)) {
      line.barcode = barcode;
      for (const std::string& name : NameCandidates(fields, back))
        if (line.name = name; Try(frame, line, profile, host, out)) return out;
    }
  }
  return out;
}

std::string GoodsFileOf(std::vector<TRecordLines>& records,
                        const std::vector<std::vector<uint8_t>>& frames,
                        const TScaleProfile& profile, const platform::Regional& host) {
  std::string file;
  for (const TRecordLines& r : records) file += r.lines;
  file += "T\r\n";
  // One record's lines can change another's (a text under a shared key):
  // the file as a whole is what the service reads.
  const TEncodedFile encoded = Encode(file, profile, host);
  std::map<int32_t, std::vector<uint8_t>> made;
  for (const TDeliveryStep& s : encoded.steps)
    if (s.kind == TStepKind::Goods && s.length)
      made[s.goodsNumber].assign(encoded.Frame(s), encoded.Frame(s) + s.length);
  for (size_t i = 0; i < records.size() && i < frames.size(); ++i) {
    TRecordLines& r = records[i];
    if (!r.same) continue;
    auto it = made.find(r.goods);
    if (it != made.end() && it->second == frames[i]) continue;
    r.same = false;
    r.why = "the file as a whole makes other bytes of it";
  }
  return file;
}

}  // namespace tv
