// Writes a decoded parameter block back into its wire form, so that the
// fuzz targets can check that decoding loses nothing.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "paramserver/paramblock.h"
#include "paramserver/protocol.h"

namespace tv::fuzz {

// The three address bytes of an IPAdress such as "10.0.5."; false when the
// text is not three decimal bytes each followed by a dot.
inline bool AddressBytes(const std::string& prefix, uint8_t out[3]) {
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    size_t dot = prefix.find('.', pos);
    if (dot == std::string::npos || dot == pos || dot - pos > 3) return false;
    const std::string digits = prefix.substr(pos, dot - pos);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    if (digits.size() > 1 && digits[0] == '0') return false;
    const int value = std::atoi(digits.c_str());
    if (value > 255) return false;
    out[i] = static_cast<uint8_t>(value);
    pos = dot + 1;
  }
  return pos == prefix.size();
}

// The complete block: every per-scale section in full and the closing EOT.
// `reserved` fills the two bytes the decoder ignores.
inline std::vector<uint8_t> EncodeBlock(const TParamBlock& b, uint16_t reserved = 0) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(reserved), static_cast<uint8_t>(reserved >> 8),
                              static_cast<uint8_t>(b.VerInterval),
                              static_cast<uint8_t>(b.VerInterval >> 8),
                              static_cast<uint8_t>(b.BarcodeFormat),
                              static_cast<uint8_t>(b.LFormat),
                              static_cast<uint8_t>(b.LabelWidth),
                              static_cast<uint8_t>(b.INGRFontSize),
                              static_cast<uint8_t>(b.SMessFontSize),
                              b.m_iNameAlgorithm};
  uint8_t address[3] = {0, 0, 0};
  AddressBytes(b.IPAdress, address);
  out.insert(out.end(), address, address + 3);
  out.push_back(b.TextToOEM);
  out.push_back(b.LongBarCode);
  out.push_back(static_cast<uint8_t>(b.ImportType));
  out.push_back(static_cast<uint8_t>(b.TotalNumber));
  for (const auto* table : {&b.ScaleNumbers, &b.DeviceTypes})
    out.insert(out.end(), table->begin(), table->end());
  for (const auto* text : {&b.ExportDir, &b.LogoDir, &b.FileMask, &b.BarPrefix}) {
    out.insert(out.end(), text->begin(), text->end());
    out.push_back(kETX);
  }
  for (const auto* section : {&b.BarcodeTypes, &b.UseByInDays, &b.ConstBC})
    out.insert(out.end(), section->begin(), section->end());
  out.push_back(kEOT);
  return out;
}

inline bool SameBlock(const TParamBlock& a, const TParamBlock& b) {
  return a.VerInterval == b.VerInterval && a.LabelWidth == b.LabelWidth &&
         a.BarcodeFormat == b.BarcodeFormat && a.TotalNumber == b.TotalNumber &&
         a.LFormat == b.LFormat && a.INGRFontSize == b.INGRFontSize &&
         a.SMessFontSize == b.SMessFontSize && a.ExportDir == b.ExportDir &&
         a.LogoDir == b.LogoDir && a.FileMask == b.FileMask && a.IPAdress == b.IPAdress &&
         a.BarPrefix == b.BarPrefix && a.m_iNameAlgorithm == b.m_iNameAlgorithm &&
         a.TextToOEM == b.TextToOEM && a.LongBarCode == b.LongBarCode &&
         a.ImportType == b.ImportType && a.ScaleNumbers == b.ScaleNumbers &&
         a.DeviceTypes == b.DeviceTypes && a.BarcodeTypes == b.BarcodeTypes &&
         a.UseByInDays == b.UseByInDays && a.ConstBC == b.ConstBC;
}

}  // namespace tv::fuzz
