// The JSON writer under the names the decoders' callers know; it lives in
// text/json.h.
#pragma once

#include "text/json.h"

namespace tv::decode {

using text::JsonObject;
using text::JsonQuote;

}  // namespace tv::decode
