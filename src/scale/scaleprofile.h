// TScaleProfile: every value that decides the bytes a scale receives for a
// goods file, i.e. the scale's own settings and the cycle's import and text
// settings.  Scales with equal profiles get equal frames, so the export cycle
// encodes a file once per distinct profile.  Where the scale is (address,
// port) is not part of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "scale/scaletypes.h"

namespace tv {

// The goods text fields (import type, row and column counts, separators)
// come from the engine settings snapshot.
struct TScaleProfile : TGoodsTextSettings {
  // Per scale and cycle (the scale client's creation values).
  bool NameAlgorithm = false;  // cut an over-long second name line
  bool LongBarCode = false;    // barcode suffixes 81/82 instead of 01/02
  bool TextToOEM = false;      // label text through CharToOemA
  TScaleType ScaleType = TScaleType::Pole;
  std::string BarPrefix;       // BigPlatform barcode prefix
  int32_t LabelWidth = 0;
  int32_t IngredientFont = 0;  // INGRFontSize
  int32_t MessageFont = 0;     // SMessFontSize
  int32_t BarcodeType = 0;     // DeviceBarcodeTypes entry
  int32_t LabelFormat = 0;     // LFormat
  bool UseByInDays = false;
  bool ConstBarcode = false;

  // Copies the goods text values of an engine settings snapshot.
  void TakeEngineSettings(const TEngineSettings& s);

  bool operator==(const TScaleProfile&) const = default;
};

struct TScaleProfileHash {
  size_t operator()(const TScaleProfile& p) const;
};

}  // namespace tv
