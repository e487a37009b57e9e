// The member-name table shared by every kel prototype: the registry's member
// lists (the member functions of a class that may be read as values, e.g.
// `list.concat`) are zero-terminated arrays of indexes into it. Immutable;
// thread-safe.
#pragma once

enum KelMember : int {
  KM_TO_STRING = 0,
  KM_IS_ARRAY = 1,
  KM_OF = 2,
  KM_CONCAT = 3,
  KM_CHAR_AT = 4,
  KM_CHAR_CODE_AT = 5,
  KM_ENDS_WITH = 6,
  KM_INCLUDES = 7,
  KM_INDEX_OF = 8,
  KM_SEARCH = 9,
  KM_REPLACE = 10,
  KM_TO_LOWER_CASE = 11,
  KM_TO_LOCALE_LOWER_CASE = 12,
  KM_TO_UPPER_CASE = 13,
  KM_TO_LOCALE_UPPER_CASE = 14,
  KM_FROM_CODE_POINT = 15,
  KM_FROM_CHAR_CODE = 16,
  KM_LAST_INDEX_OF = 17,
  KM_SUBSTRING = 75,
  KM_SLICE = 76,
  KM_JOIN = 77,
  KM_SPLIT = 78,
  KM_STARTS_WITH = 79,
  KM_COUNT = 85,
};

// The name at `index` (0 to 84), or null outside the table.
[[nodiscard]] const char* kelMemberName(int index);
// The index of `name`, or -1 when the table does not hold it.
[[nodiscard]] int kelMemberIndex(const char* name);
