#include "platform/guid.h"

#include <uuid/uuid.h>

#include <cctype>

namespace tv::platform {

std::string NewGuidText() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_upper(id, text);
  std::string braced;
  braced.reserve(38);
  braced += '{';
  braced.append(text, 36);
  braced += '}';
  return braced;
}

}  // namespace tv::platform
