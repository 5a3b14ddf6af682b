// Whether a goods file read into line lists may be delivered at all.  A file
// whose A lines all fail to read was nearly always read with the wrong
// layout or separator; delivering its deletions and clock line alone would
// empty the scales, so such a file is refused whole, with the likely cause.
#pragma once

#include <cstddef>
#include <string>

#include "files/linelists.h"

namespace tv {

// True when the file has A lines and none of them gives a goods frame;
// `encodedGoods` counts those the encoder turned into frames.
bool NoGoodsReadable(const TSkippedLines& skips, size_t encodedGoods);

// The likely cause of unreadable A lines, judged from the first of them:
// "the lines look ';'-separated, ImportType 1 splits at ','" or "the lines
// look delimited, ImportType 0 reads fixed columns"; "" when the line shows
// no such sign.
std::string LikelyLayoutMismatch(const TSkippedLines& skips, int importType, char listSeparator);

// The whole reason for refusing such a file, for the log and Rejected.
std::string UnreadableGoodsReason(const TSkippedLines& skips, int importType, char listSeparator);

}  // namespace tv
