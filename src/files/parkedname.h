// The rules that tie a scale to a file or an address: which names are
// parked copies, and which scale number a parked name or an address names.
// Every unit that asks these questions asks here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

// A name that contains both "{" and "}" anywhere: a copy for one scale,
// delivered to that scale alone and not logged again when it fails.
bool IsParkedName(std::string_view name);
// A name that begins with "{" and contains "}": the shape CopyToUnsent
// gives its copies, so such a file is never parked a second time.
bool IsParkedCopyName(std::string_view name);

// The name the back office gave a file: a parked copy's name without its
// GUID prefix, any other name unchanged.
std::string_view OriginalFileName(std::string_view name);
// The export file's name a parked name was made from, as far as the parked
// name keeps it: "{GUID}prices025.txt" gives "prices.txt"; a name that had
// no dot kept nothing of it and gives "".
std::string OriginalNameOfParked(const std::string& parkedName);

// The scale number in a parked file's name: the (up to) three characters
// just before the first "." of the name, read as a number, low byte; 0
// when they are no number.
uint8_t ScaleNumberFromFileName(const std::string& path);
// The scale number an address names: the trimmed address after its third
// "." (after fewer dots: after the last one), read as a number, low byte.
// False when that text is no number.
bool ScaleNumberFromAddress(std::string_view address, uint8_t& number);

}  // namespace tv
