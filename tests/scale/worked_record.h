// The worked goods record: code 000123, price 1.50, barcode 123456789012,
// kind 0, alternative label 0, shelf life 5, no use-by flag, no ingredient
// text, encoded for label width 30, label format 17, barcode type 5 and
// message font 2.  Shared by the encoder's tests and the explain command's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv::test {

// The line's content in the delimited layout 1A with ';' between fields.
inline const std::string kWorkedRecordLine = ";123456789012;000123;x;x;0;0;1.50;5;x;Apple";

inline const std::vector<uint8_t> kWorkedRecordFrame = {
    0xF1, 0x25,
    0x00, 0x00, 0x01, 0x23,              // goods number
    0x00, 0x2A,                          // record length 42
    0x54, 0x00, 0x0D, 0x64, 0x11,        // flags
    0x00, 0x00, 0x01, 0x50,              // price
    0x11,                                // label format 17
    0x05,                                // barcode type
    0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x01,
    0x00, 0x05,                          // ShelfLifeA
    0x00, 0x00,                          // ZeroValue
    0x01,                                // NoTextValue
    0x09, 0x05, 'A', 'p', 'p', 'l', 'e', 0x0C,  // name, short font
    0x02, 0x01, 0x20, 0x0C,              // message block: one space
    0x00};

}  // namespace tv::test
