#include "platform/uuid.h"

#include <uuid/uuid.h>

namespace mivo::platform {

Uuid Uuid::random() {
  Uuid uuid;
  uuid_generate_random(uuid.bytes.data());
  return uuid;
}

std::string Uuid::canonicalText() const {
  char text[37];
  uuid_unparse_upper(bytes.data(), text);
  return text;
}

}  // namespace mivo::platform
