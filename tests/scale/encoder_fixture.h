// Builds goods encoders and encoded files for tests: engine settings, line
// lists, host separators and a fixed clock owned by the fixture, scale
// values with plain defaults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scale/encodedfile.h"
#include "scale/goodsencoder.h"
#include "testutil.h"

namespace tv::test {

// A scale's own profile values with the defaults the tests start from.
struct ScaleArgs : TScaleProfile {
  ScaleArgs() {
    ScaleType = TScaleType::Bench;
    BarPrefix = "22";
    LabelWidth = 30;
    IngredientFont = 3;
    MessageFont = 2;
    BarcodeType = 5;
    LabelFormat = 17;
  }
};

class EncoderFixture {
 public:
  EncoderFixture() {
    settings.ImportType = 1;
    settings.INGRROWCount = 7;
    settings.SMESSROWCount = 3;
    settings.INGRCOLCount = 40;
    settings.SMESSCOLCount = 40;
    settings.MaxMessRowCount = 8;
    host.listSeparator = ';';
    host.decimalSeparator = '.';
    clock.now = {2024, 3, 5, 9, 7, 0};
  }

  // The scale's values with the fixture's engine settings taken as the
  // export cycle takes them (separators included).
  TScaleProfile Profile(const ScaleArgs& a = {}) const {
    TScaleProfile p = a;
    p.TakeEngineSettings(settings);
    return p;
  }

  std::unique_ptr<TGoodsEncoder> Make(const ScaleArgs& a = {}) {
    return std::make_unique<TGoodsEncoder>(Profile(a), lists.iValues, host, &clock);
  }

  TEncodedFilePtr Encode(const ScaleArgs& a = {}) { return EncodeFile(lists, Profile(a), host); }

  TEngineSettings settings;
  TLineLists lists;
  platform::Regional host;
  FixedClock clock;
};

inline std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) { return {p, p + n}; }

// The goods frame of `entry`, or an empty vector when none is built.
inline std::vector<uint8_t> GoodsFrame(TGoodsEncoder& c, std::string_view entry) {
  if (!c.PrepareGoodsRecord(entry)) return {};
  size_t n = c.FrameGoodsRecord();
  return Bytes(c.FrameBuffer(), n);
}

}  // namespace tv::test
