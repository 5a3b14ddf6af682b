// Builds scale clients for tests: settings, line lists, host separators and
// a fixed clock owned by the fixture, creation arguments with plain defaults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scale/clntsock.h"
#include "testutil.h"

namespace tv::test {

struct ClientArgs {
  bool nameAlgorithm = false;
  bool longBarCode = false;
  bool textToOEM = false;
  TScaleType scaleType = TScaleType::Bench;
  std::string barPrefix = "22";
  std::string address = "127.0.0.5";
  int32_t labelWidth = 30;
  int32_t ingredientFont = 3;
  int32_t messageFont = 2;
  int32_t barcodeType = 5;
  int32_t labelFormat = 17;
  int32_t port = 3005;
  char listSeparator = 0;
  char decimalSeparator = 0;
  bool useByInDays = false;
  bool constBarcode = false;
};

class ClientFixture {
 public:
  ClientFixture() {
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

  std::unique_ptr<TScaleClnt> Make(const ClientArgs& a = {}) {
    TScaleClntContext context{std::make_shared<const TEngineSettings>(settings), &lists, host,
                              &clock};
    return std::make_unique<TScaleClnt>(
        a.nameAlgorithm, a.longBarCode, a.textToOEM, a.scaleType, a.barPrefix, a.address,
        a.labelWidth, a.ingredientFont, a.messageFont, a.barcodeType, a.labelFormat, a.port,
        a.listSeparator, a.decimalSeparator, a.useByInDays, a.constBarcode, context);
  }

  TEngineSettings settings;
  TLineLists lists;
  platform::Regional host;
  FixedClock clock;
};

inline std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) { return {p, p + n}; }

// The goods frame of `entry`, or an empty vector when none is built.
inline std::vector<uint8_t> GoodsFrame(TScaleClnt& c, const std::string& entry) {
  if (!c.PrepareGoodsRecord(entry)) return {};
  size_t n = c.FrameGoodsRecord();
  return Bytes(c.SendBuffer(), n);
}

}  // namespace tv::test
