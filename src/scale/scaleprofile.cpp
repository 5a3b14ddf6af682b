#include "scale/scaleprofile.h"

#include <functional>

namespace tv {
namespace {

void Mix(size_t& seed, size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

}  // namespace

void TScaleProfile::TakeEngineSettings(const TEngineSettings& s) {
  static_cast<TGoodsTextSettings&>(*this) = s;
}

size_t TScaleProfileHash::operator()(const TScaleProfile& p) const {
  size_t seed = std::hash<std::string>()(p.BarPrefix);
  for (int64_t v : {int64_t{p.NameAlgorithm}, int64_t{p.LongBarCode}, int64_t{p.TextToOEM},
                    int64_t{static_cast<uint8_t>(p.ScaleType)}, int64_t{p.LabelWidth},
                    int64_t{p.IngredientFont}, int64_t{p.MessageFont}, int64_t{p.BarcodeType},
                    int64_t{p.LabelFormat}, int64_t{p.ListSeparator}, int64_t{p.DecimalSeparator},
                    int64_t{p.UseByInDays}, int64_t{p.ConstBarcode}, int64_t{p.ImportType},
                    int64_t{p.INGRROWCount}, int64_t{p.SMESSROWCount}, int64_t{p.INGRCOLCount},
                    int64_t{p.SMESSCOLCount}, int64_t{p.MaxMessRowCount}, int64_t{p.ForceDi30}}) {
    Mix(seed, std::hash<int64_t>()(v));
  }
  return seed;
}

}  // namespace tv
