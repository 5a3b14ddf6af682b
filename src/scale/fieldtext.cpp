#include "scale/fieldtext.h"

#include <charconv>
#include <cmath>

#include "text/utils.h"

namespace tv {
std::string_view TrimBlanks(std::string_view s) { return text::Trim(s); }

std::string_view StripLeadingZeros(std::string_view s) {
  while (!s.empty() && s.front() == '0') s.remove_prefix(1);
  return s;
}

bool ParseDecimalInt(std::string_view s, int32_t& value) {
  return text::StrToInt(text::Trim(s), value);
}

int32_t DecimalIntOrZero(std::string_view s) {
  int32_t v = 0;
  return ParseDecimalInt(s, v) ? v : 0;
}

bool ParseDecimalNumber(std::string_view s, char decimalSeparator, double& value) {
  s = TrimBlanks(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  // from_chars wants "." and knows no locale; the separator is ours to map.
  char buf[64];
  if (s.empty() || s.size() >= sizeof(buf)) return false;
  bool sawSeparator = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == decimalSeparator) {
      if (sawSeparator) return false;
      sawSeparator = true;
      c = '.';
    } else if (c == '.' || (c >= 'a' && c <= 'z' && c != 'e') || (c >= 'A' && c <= 'Z' && c != 'E')) {
      return false;  // a foreign separator, "inf", "nan" and the like
    }
    buf[i] = c;
  }
  double v = 0;
  auto [end, ec] = std::from_chars(buf, buf + s.size(), v, std::chars_format::general);
  if (ec != std::errc() || end != buf + s.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool NextField(std::string_view s, size_t& pos, char separator, std::string_view& field) {
  if (pos > s.size()) return false;
  size_t sep = s.find(separator, pos);
  if (sep == std::string::npos) return false;
  field = std::string_view(s).substr(pos, sep - pos);
  pos = sep + 1;
  return true;
}

}  // namespace tv
