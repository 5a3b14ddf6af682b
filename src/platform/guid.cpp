#include "platform/guid.h"

#include <uuid/uuid.h>

#include <cctype>

namespace tv::platform {

std::string NewGuidText() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return "{" + std::string(text) + "}";
}

}  // namespace tv::platform
