#include "kel/location.h"

#include <cstdlib>
#include <cstring>

std::string Location::text() const {
  return "(" + fileName_ + ":" + std::to_string(line_) + ":" + std::to_string(column_) + ")";
}

char* Location::toString(Parser*) { return strdup(text().c_str()); }

int Location::clone(const Principal*, Translatable** out) const {
  *out = new Location(*this);
  return 0;
}
