// MessageDump: prints a tagged encoding as an indented tree (one item per
// line: offset, tag name and value; objects with their type id and the name
// of their registered translator; fields with their number). Used by the
// orvwire tool. Stateless and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class MessageBase;

class MessageDump {
 public:
  struct Error {
    int code = 0;         // the decoder's error code (-11 to -19), 0 when none
    uint64_t offset = 0;  // where the item that could not be decoded starts
    std::string text;     // the code's text, or what is wrong with a frame
  };

  // Every item from the read location of `message` to its end. Offsets are
  // shown counted from the message start plus `base`. Returns 0, or the error
  // code with *error filled; what was decoded before is in `out`.
  [[nodiscard]] static int dumpItems(MessageBase& message, std::string& out, Error* error, uint64_t base = 0);

  // `data` as items, or with `framed` as a sequence of framed messages (the
  // 9-byte header of the connection protocol, then the payload).
  [[nodiscard]] static int dumpBytes(const char* data, size_t n, bool framed, std::string& out, Error* error);
};
