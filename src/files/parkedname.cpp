#include "files/parkedname.h"

#include "platform/fs.h"
#include "text/utils.h"

namespace tv {

bool IsParkedName(std::string_view name) {
  return name.find('{') != std::string_view::npos && name.find('}') != std::string_view::npos;
}

bool IsParkedCopyName(std::string_view name) {
  return !name.empty() && name.front() == '{' && name.find('}') != std::string_view::npos;
}

std::string_view OriginalFileName(std::string_view name) {
  if (!IsParkedCopyName(name)) return name;
  return name.substr(name.find('}') + 1);
}

std::string OriginalNameOfParked(const std::string& parkedName) {
  std::string rest = parkedName;
  size_t close = rest.find('}');
  if (!rest.empty() && rest[0] == '{' && close != std::string::npos) rest.erase(0, close + 1);
  size_t firstDot = rest.find('.');
  if (firstDot == std::string::npos) return {};
  std::string base = rest.substr(0, firstDot >= 3 ? firstDot - 3 : 0);
  return base + rest.substr(rest.rfind('.'));
}

uint8_t ScaleNumberFromFileName(const std::string& path) {
  const std::string name = platform::ExtractFileName(path);
  const size_t dot = name.find('.');
  const size_t start = (dot == std::string::npos || dot < 3) ? 0 : dot - 3;
  std::string_view digits = std::string_view(name).substr(start, 3);
  digits = digits.substr(0, digits.find('.'));
  int32_t value = 0;
  if (!text::StrToInt(digits, value)) return 0;
  return static_cast<uint8_t>(value & 0xFF);
}

bool ScaleNumberFromAddress(std::string_view address, uint8_t& number) {
  std::string_view rest = text::Trim(address);
  for (int i = 0; i < 3; ++i) {
    const size_t dot = rest.find('.');
    if (dot != std::string_view::npos) rest.remove_prefix(dot + 1);
  }
  int32_t value = 0;
  if (!text::StrToInt(rest, value)) return false;
  number = static_cast<uint8_t>(value & 0xFF);
  return true;
}

}  // namespace tv
