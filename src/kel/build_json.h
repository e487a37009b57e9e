// buildJSON: the printf-like helper with which objects render themselves as
// JSON-like text in their toString (alerts, rules, assets, tasks, ...).
// Stateless and thread-safe (as far as the objects rendered are).
#pragma once

class Any;
class Translatable;

// The render function of an `l` member: gets the list cursor, returns the
// next element's text (malloc'd, taken over; null renders as null) and
// advances the cursor; the list ends when the cursor becomes null.
using BuildJSONRender = char* (*)(void** cursor);

// A new text (release with free): "{ " then one member per format letter,
// separated by ", ", then " }". Each letter takes a key (const char*) and
// then its value arguments:
//   s  const char*     "key" : "text" (quote, backslash and control
//                      characters escaped; null: "key" : null)
//   i  int             "key" : 12
//   j  long long       "key" : 12
//   b  int             "key" : true / false
//   t  long long       seconds: "key" : 1700000000 /* <local "%x %X"> */
//   a  Any*            "key" : the value's toString text (null: null)
//   o  Translatable*   "key" : the object's toString text (null: null)
//   x  Translatable*   "key" : "kel_escape of the object's toString text"
//   l  void*, BuildJSONRender
//                      "key" : [ text, text]
// Any other character takes its key and adds nothing.
[[nodiscard]] char* buildJSON(const char* format, ...);
