// Decodes arbitrary bytes as every registered object type (containers as
// containers), from a message cut into chunks of a few bytes, and checks that
// whatever decoded re-encodes stably: decode -> encode -> decode -> encode
// must give the same bytes twice. Also runs the dump walker over the input.
// The first input byte picks the chunk size; the rest is the encoding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "foundation/log.h"
#include "model/any.h"
#include "model/translatable.h"
#include "wire/message.h"
#include "wire/message_dump.h"
#include "wire/model_xlators.h"

namespace {

// Translators whose object is read and written as a container.
const std::set<int> kContainers = {1003, 1006, 1009, 1012, 1022, 2392};

std::string encode(int type, const Translatable* object) {
  Message m(0);
  int rc = kContainers.count(type) ? m.writeContainer(type, object) : m.writeObject(type, object);
  if (rc != 0 || m.getError() != 0) {
    std::fprintf(stderr, "re-encoding type %d failed: %d\n", type, m.getError());
    std::abort();
  }
  std::string out;
  for (const MessageChunk* c = m.firstChunk(); c != nullptr; c = c->next) out.append(c->data, c->used);
  return out.substr(Message::kHeaderSize);
}

int decode(int type, const char* data, size_t n, size_t chunk, Translatable** out) {
  Message m;
  for (size_t at = 0; at < n; at += chunk) m.appendBytes(data + at, n - at < chunk ? n - at : chunk);
  return kContainers.count(type) ? m.readContainer(type, out) : m.readObject(type, out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Malformed input is logged by the decoder; keep the run's output readable.
  setLog("/dev/null");
  registerModelXlators();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = (bytes[0] % 13) + 1;
  const char* data = reinterpret_cast<const char*>(bytes + 1);
  const size_t n = size - 1;

  std::string tree;
  MessageDump::Error error;
  (void)MessageDump::dumpBytes(data, n, false, tree, &error);
  (void)MessageDump::dumpBytes(data, n, true, tree, &error);

  for (int type : MessageBase::registeredTypes()) {
    Translatable* first = nullptr;
    if (decode(type, data, n, chunk, &first) != 0 || first == nullptr) continue;
    // Opaque values inside an Any decode on demand: exercise that too.
    if (type == OBJ_ANY_ID) {
      Translatable* held = nullptr;
      (void)static_cast<Any*>(first)->getObject(&held);
    }
    const std::string once = encode(type, first);
    delete first;
    Translatable* second = nullptr;
    if (decode(type, once.data(), once.size(), chunk, &second) != 0 || second == nullptr) {
      std::fprintf(stderr, "type %d: its own encoding does not decode\n", type);
      std::abort();
    }
    const std::string twice = encode(type, second);
    delete second;
    if (once != twice) {
      std::fprintf(stderr, "type %d: encoding is not stable (%zu and %zu bytes)\n", type, once.size(), twice.size());
      std::abort();
    }
  }
  return 0;
}
