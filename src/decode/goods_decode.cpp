// Decoding of the goods protocol's frames: delete, clock and goods record.

#include <cstdio>
#include <string>
#include <vector>

#include "decode/bytes.h"
#include "decode/decode.h"
#include "text/json.h"

namespace tv::decode {

using text::JsonObject;

namespace {

constexpr size_t kFixedFields = 24;  // record offsets 0..23

struct OptionalField {
  int flag;  // 1..5
  int bit;
  size_t size;
  const char* name;   // JSON member
  const char* label;  // in a field listing
};

// The optional fields in the order a record carries them.
constexpr OptionalField kOptionalFields[] = {
    {3, 4, 2, "f3b4", "field of flag 3 bit 4"},
    {5, 0, 2, "shelfLifeA", "shelf life A"},
    {5, 1, 2, "shelfLifeB", "shelf life B"},
    {5, 2, 2, "shelfLifeC", "shelf life C"},
    {5, 3, 2, "f5b3", "field of flag 5 bit 3"},
    {5, 4, 2, "zeroValue", "zero value"},
    {3, 6, 2, "f3b6", "field of flag 3 bit 6"},
    {3, 7, 2, "countValue", "count"},
    {4, 0, 1, "f4b0", "field of flag 4 bit 0"},
    {4, 1, 1, "f4b1", "field of flag 4 bit 1"},
    {4, 2, 1, "noTextValue", "no-text value"},
    {5, 5, 1, "f5b5", "field of flag 5 bit 5"}};

// Bits that count in the record length although nothing is written for them.
constexpr OptionalField kLengthOnlyBits[] = {
    {3, 5, 4, "", ""}, {3, 1, 1, "", ""}, {4, 4, 80, "", ""}, {5, 7, 2, "", ""}};

struct TextBlock {
  int bit;  // of Flag4
  const char* name;
};
constexpr TextBlock kTextBlocks[] = {{5, "name"}, {7, "ingredients"}, {6, "message"}};

class GoodsRecordDecoder {
 public:
  GoodsRecordDecoder(const uint8_t* rec, size_t len, TextCodePage page, TFrameFields* fields)
      : rec_(rec), len_(len), page_(page), reader_(rec, len), fields_(fields) {}

  std::string Decode(const std::string& frameHex) {
    json_.Str("kind", "goods");
    Note("frame head: goods record", rec_ - 2, 2, "");
    if (!Header() || !FixedFields() || !OptionalFields() || !TextBlocks()) {
      json_.Str("error", error_);
    } else {
      Tail();
    }
    json_.Str("hex", frameHex);
    return json_.Text();
  }

 private:
  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }

  bool Flag(int flag, int bit) const { return (flags_[flag - 1] >> bit) & 1; }

  // `p` points into the record, which starts two bytes into the frame.
  void Note(const std::string& name, const uint8_t* p, size_t size, const std::string& value) {
    if (fields_) fields_->push_back({static_cast<size_t>(p - rec_) + 2, size, name, value});
  }

  static std::string Number(const uint8_t* p, size_t n) {
    int64_t v;
    return BcdValue(p, n, v) ? std::to_string(v) : "digits " + BcdDigits(p, n);
  }

  bool Header() {
    const uint8_t* p;
    if (!reader_.Take(6, p)) return Fail("record shorter than its 6-byte head");
    json_.Raw("goods", BcdJson(p, 4));
    length_ = static_cast<size_t>(p[4] << 8 | p[5]);
    Note("goods number", p, 4, Number(p, 4));
    Note("record length", p + 4, 2, std::to_string(length_));
    json_.Int("length", static_cast<int64_t>(length_));
    if (len_ < length_) json_.Int("missingBytes", static_cast<int64_t>(length_ - len_));
    if (len_ > length_) {
      json_.Int("extraBytes", static_cast<int64_t>(len_ - length_));
      reader_ = ByteReader(rec_, length_);
      reader_.Take(6, p);
    }
    if (length_ < kFixedFields + 1) return Fail("length field below the fixed fields");
    return true;
  }

  bool FixedFields() {
    const uint8_t* p;
    if (!reader_.Take(kFixedFields - 6, p)) return Fail("record ends inside the fixed fields");
    std::string flags = "[";
    for (int i = 0; i < 5; ++i) {
      flags_[i] = p[i];
      flags += (i ? ",\"" : "\"") + Hex(p[i]) + "\"";
    }
    json_.Raw("flags", flags + "]");
    Note("flags 1 to 5", p, 5, "");
    json_.Str("priceDigits", BcdDigits(p + 5, 4));
    int64_t cents;
    std::string price = "digits " + BcdDigits(p + 5, 4);
    if (BcdValue(p + 5, 4, cents)) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%lld.%02lld", static_cast<long long>(cents / 100),
                    static_cast<long long>(cents % 100));
      json_.Str("price", buf);
      price = buf;
    }
    Note("price", p + 5, 4, price);
    json_.Int("labelFormat", p[9]);
    Note("label format", p + 9, 1, std::to_string(p[9]));
    json_.Int("barcodeType", p[10]);
    Note("barcode type", p + 10, 1, std::to_string(p[10]));
    json_.Str("barcode", BcdDigits(p + 11, 7));
    Note("barcode", p + 11, 7, BcdDigits(p + 11, 7));
    return true;
  }

  bool OptionalFields() {
    for (const OptionalField& f : kOptionalFields) {
      if (!Flag(f.flag, f.bit)) continue;
      const uint8_t* p;
      if (!reader_.Take(f.size, p)) return Fail(std::string("record ends inside ") + f.name);
      json_.Raw(f.name, BcdJson(p, f.size));
      Note(f.label, p, f.size, Number(p, f.size));
    }
    return true;
  }

  bool TextBlocks() {
    for (const TextBlock& b : kTextBlocks) {
      if (!Flag(4, b.bit)) continue;
      std::string lines;
      if (!Lines(b.name, lines)) return false;
      json_.Raw(b.name, lines);
    }
    return true;
  }

  // Lines of one block: font, length, characters, CR (more follow) or FF.
  bool Lines(const std::string& block, std::string& out) {
    out = "[";
    for (bool more = true; more;) {
      uint8_t font, count, end;
      const uint8_t* chars;
      if (!reader_.Byte(font) || !reader_.Byte(count) || !reader_.Take(count, chars) ||
          !reader_.Byte(end)) {
        return Fail("record ends inside a " + block + " line");
      }
      if (end != 0x0D && end != 0x0C) return Fail(block + " line ends with " + Hex(end));
      more = end == 0x0D;
      std::string text(reinterpret_cast<const char*>(chars), count);
      Note(block + " line, font " + std::to_string(font), chars - 2, count + 3u,
           "\"" + ToUtf8(text, page_) + "\"" + (more ? " CR" : " FF"));
      JsonObject line;
      line.Int("font", font).Int("length", count).Str("text", ToUtf8(text, page_));
      line.Str("hex", Hex(chars, count)).Str("end", more ? "CR" : "FF");
      out += (out.size() > 1 ? "," : "") + line.Text();
    }
    out += "]";
    return true;
  }

  // What is left must be the length-only bits' room and the end byte.
  void Tail() {
    size_t lengthOnly = 0;
    for (const OptionalField& f : kLengthOnlyBits) {
      if (Flag(f.flag, f.bit)) lengthOnly += f.size;
    }
    if (lengthOnly) json_.Int("lengthOnlyBytes", static_cast<int64_t>(lengthOnly));
    size_t left = reader_.Left();
    const uint8_t* rest;
    if (left > 0 && reader_.Take(left, rest)) {
      json_.Raw("endByte", BcdJson(rest + left - 1, 1));
      if (left > 1) Note("room of length-only bits", rest, left - 1, "");
      Note("end byte", rest + left - 1, 1, "");
    }
    bool consistent = left == lengthOnly + 1 && len_ >= length_;
    json_.Bool("consistent", consistent);
    if (!consistent) json_.Int("unreadBytes", static_cast<int64_t>(left));
  }

  const uint8_t* rec_;
  size_t len_;
  TextCodePage page_;
  ByteReader reader_;
  TFrameFields* fields_;
  JsonObject json_;
  std::string error_;
  size_t length_ = 0;
  uint8_t flags_[5] = {};
};

void Note(TFrameFields* fields, size_t offset, size_t size, const std::string& name, const std::string& value) {
  if (fields) fields->push_back({offset, size, name, value});
}

std::string DecodeDelete(const uint8_t* data, size_t len, TFrameFields* fields) {
  JsonObject j;
  j.Str("kind", "delete");
  if (len == 6) {
    j.Raw("goods", BcdJson(data + 2, 4));
    Note(fields, 0, 2, "frame head: delete", "");
    int64_t v;
    Note(fields, 2, 4, "goods number", BcdValue(data + 2, 4, v) ? std::to_string(v) : BcdDigits(data + 2, 4));
  } else {
    j.Str("error", "delete frame of " + std::to_string(len) + " bytes, not 6");
  }
  j.Str("hex", Hex(data, len));
  return j.Text();
}

std::string DecodeClock(const uint8_t* data, size_t len, TFrameFields* fields) {
  static const uint8_t kFixed[14] = {0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00,
                                     0, 0, 0, 0x00, 0x00, 0, 0};
  JsonObject j;
  j.Str("kind", "clock");
  if (len == 14) {
    j.Raw("day", BcdJson(data + 7, 1)).Raw("month", BcdJson(data + 8, 1));
    j.Raw("year", BcdJson(data + 9, 1)).Raw("hour", BcdJson(data + 12, 1));
    j.Raw("minute", BcdJson(data + 13, 1));
    j.Str("date", BcdDigits(data + 7, 1) + "." + BcdDigits(data + 8, 1) + "." +
                      BcdDigits(data + 9, 1));
    j.Str("time", BcdDigits(data + 12, 1) + ":" + BcdDigits(data + 13, 1));
    bool fixedOk = true;
    for (size_t i : {2, 3, 4, 5, 6, 10, 11}) fixedOk = fixedOk && data[i] == kFixed[i];
    j.Bool("fixedBytesOk", fixedOk);
    // The frame carries no century; this one is assumed.
    j.Str("datetime", "20" + BcdDigits(data + 9, 1) + "-" + BcdDigits(data + 8, 1) + "-" +
                          BcdDigits(data + 7, 1) + "T" + BcdDigits(data + 12, 1) + ":" +
                          BcdDigits(data + 13, 1));
    Note(fields, 0, 2, "frame head: clock", "");
    Note(fields, 2, 5, "fixed bytes", fixedOk ? "as expected" : "unexpected");
    Note(fields, 7, 3, "date (day, month, year)",
         BcdDigits(data + 7, 1) + "." + BcdDigits(data + 8, 1) + "." + BcdDigits(data + 9, 1));
    Note(fields, 10, 2, "fixed bytes", "");
    Note(fields, 12, 2, "time (hour, minute)", BcdDigits(data + 12, 1) + ":" + BcdDigits(data + 13, 1));
  } else {
    j.Str("error", "clock frame of " + std::to_string(len) + " bytes, not 14");
  }
  j.Str("hex", Hex(data, len));
  return j.Text();
}

}  // namespace

std::string DecodeGoodsFrame(const uint8_t* data, size_t len, TextCodePage text, TFrameFields* fields) {
  if (len >= 2 && data[0] == 0xF3 && data[1] == 0x25) return DecodeDelete(data, len, fields);
  if (len >= 2 && data[0] == 0xF1 && data[1] == 0x4E) return DecodeClock(data, len, fields);
  if (len >= 2 && data[0] == 0xF1 && data[1] == 0x25) {
    return GoodsRecordDecoder(data + 2, len - 2, text, fields).Decode(Hex(data, len));
  }
  JsonObject j;
  j.Str("kind", "unknown").Str("error", "unknown frame head").Str("hex", Hex(data, len));
  return j.Text();
}

}  // namespace tv::decode
