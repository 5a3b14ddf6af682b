#include "goodsfile.h"

#include <cstdio>

namespace tv::bench {
namespace {

const char* const kWords[] = {"Apple",
                              "Golden",
                              "\xDF\xE1\xEB\xEE\xEA\xE8",
                              "Cheese",
                              "\xD1\xFB\xF0",
                              "Smoked",
                              "Ham",
                              "\xC1\xE0\xF2\xEE\xED",
                              "Fresh",
                              "Bread",
                              "\xCC\xEE\xEB\xEE\xEA\xEE",
                              "Salami"};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

std::string Name(int i) {
  std::string name;
  for (int j = 0; j <= i % 6; ++j) {
    if (j) name += ' ';
    name += kWords[(i + j) % kWordCount];
  }
  name += ' ' + std::to_string(i);
  name.resize(80, ' ');
  return name;
}

}  // namespace

std::string GoodsFile(int lines, int seed, int prices) {
  std::string out;
  out.reserve(static_cast<size_t>(lines) * 135);
  char head[64];
  for (int i = 0; i < lines; ++i) {
    // 7919 is coprime with 999997, so the goods numbers are all distinct.
    long code = (static_cast<long>(i) * 7919 + seed) % 999997 + 1;
    double price = ((i * 37 + prices) % 99999) / 100.0 + 0.01;
    // Barcode 12, code 15, reserved 8, kind, alternative label, price 8,
    // shelf life 3, reserved 4: 52 characters before the name's 80.
    std::snprintf(head, sizeof head, "A%012ld%015ld        %c%c%08.2f%03d    ", 200000000000L + i,
                  code, i % 7 == 0 ? '1' : '0', i % 5 == 0 ? '1' : '0', price, i % 30);
    out += head;
    out += Name(i);
    out += "\r\n";
  }
  return out;
}

}  // namespace tv::bench
