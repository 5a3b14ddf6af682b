// Goods files for the delivery benchmark: fixed-layout (ImportType 0) A
// lines with distinct goods numbers and barcodes, prices, shelf lives, both
// kinds, alternative labels and names of one to six words, some of them
// Windows-1251 Cyrillic, so every line takes the encoder's text paths.
#pragma once

#include <string>

namespace tv::bench {

// `lines` A lines ending in CR LF; `seed` shifts the goods numbers and
// `prices` every price, the goods staying the same.
std::string GoodsFile(int lines, int seed, int prices = 0);

}  // namespace tv::bench
