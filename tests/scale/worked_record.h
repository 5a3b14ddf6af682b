// Goods records worked out by hand from the record layout, for a scale of
// label width 30, label format 17, barcode type 5 and message font 2, without
// ingredient texts.  The first: code 000123, price 1.50, barcode
// 123456789012, kind 0, alternative label 0, shelf life 5, no use-by flag.
// Shared by the encoder's tests, the client's and the explain command's.
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

// Kind 1 and shelf life 0: the count field and ShelfLifeB instead of
// ShelfLifeA, and a seven-digit barcode padded to twelve with suffix 02.
inline const std::string kKindOneRecordLine = ";2001234;000124;x;x;1;0;2.25;0;x;Pear";

// clang-format off
inline const std::vector<uint8_t> kKindOneRecordFrame = {
    0xF1, 0x25,
    0x00, 0x00, 0x01, 0x24,              // goods number
    0x00, 0x2B,                          // record length 43
    0x71, 0x00, 0x8D, 0x64, 0x12,        // flags: kind 1, no ShelfLifeA
    0x00, 0x00, 0x02, 0x25,              // price
    0x11,                                // label format 17
    0x05,                                // barcode type
    0x20, 0x01, 0x23, 0x40, 0x00, 0x00, 0x02,
    0x00, 0x00,                          // ShelfLifeB
    0x00, 0x00,                          // ZeroValue
    0x00, 0x01,                          // CountValue
    0x01,                                // NoTextValue
    0x09, 0x04, 'P', 'e', 'a', 'r', 0x0C,  // name, short font
    0x02, 0x01, 0x20, 0x0C,              // message block: one space
    0x00};
// clang-format on

// The clock frame of 5 March 2024, 09:07.
inline const std::vector<uint8_t> kClockFrame20240305At0907 = {
    0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x05, 0x03, 0x24, 0x00, 0x00, 0x09, 0x07};

}  // namespace tv::test
