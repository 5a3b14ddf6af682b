// What a result code means, in the words an operator reads in the service
// log, the status table and the check report.  One table for every code a
// delivery attempt can end with, goods and keyboard alike.
#pragma once

namespace tv {

inline const char* ResultMeaning(int code) {
  switch (code) {
    case 0: return "delivered";
    case 1: return "network error";
    case 2: return "scale not reachable";
    case 3: return "scale refused a frame";
    case 4: return "a goods record could not be encoded";
    case 6: return "nothing to deliver or file unreadable";
    case 13: return "keyboard upload: no answer to the opening exchange";
    case 14: return "keyboard upload: keyboard record refused";
    case 15: return "keyboard upload: connection failed";
    case 16: return "keyboard upload: key record or image refused";
    case 17: return "keyboard upload: keyboard file unreadable";
    default: return "unknown code";
  }
}

}  // namespace tv
