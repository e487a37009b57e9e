#include "coms/sourced_message.h"

#include <algorithm>

#include "coms/coms_settings.h"

SourcedMessage::SourcedMessage(int mode, int writeError) : MessageBase(mode, -1), writeError_(writeError) {}

void SourcedMessage::appendBytes(const void* data, size_t n) {
  if (n == 0 || getError() != 0) return;
  if (!push(static_cast<const char*>(data), n)) setError(writeError_);
}

bool SourcedMessage::fill() {
  if (ended_) return false;
  MessageChunk* last = lastChunk();
  if (last == nullptr || last->used == last->capacity) last = addChunk(kChunkSize);
  long r = pull(last->data + last->used, last->capacity - last->used);
  if (r <= 0) {
    ended_ = true;
    return false;
  }
  chunkFilled(last, static_cast<size_t>(r));
  return true;
}

bool SourcedMessage::readLocBytes(_BufferLocation* location, void* out, size_t n) {
  while (MessageBase::bytesAvailable(*location) < n) {
    if (!fill()) return false;
  }
  return MessageBase::readLocBytes(location, out, n);
}

uint64_t SourcedMessage::bytesAvailable(const _BufferLocation& location) const {
  uint64_t buffered = MessageBase::bytesAvailable(location);
  return ended_ ? buffered : buffered + comsSettings().streamItemLimit;
}

// ---- whole items ----

bool SourcedMessage::haveThrough(uint64_t index) {
  // `index` counts from the walk's start, the pushed-back byte included.
  uint64_t absolute = walkStart_ + index - walkReturned_;
  if (index - walkReturned_ > comsSettings().streamItemLimit) return false;
  while (size() <= absolute) {
    if (!fill()) return false;
  }
  return true;
}

bool SourcedMessage::byteAt(uint64_t index, unsigned char* out) {
  if (index == 0 && walkReturned_ == 1) {
    *out = static_cast<unsigned char>(walkReturnedByte_);
    return true;
  }
  if (!haveThrough(index)) return false;
  uint64_t absolute = walkStart_ + index - walkReturned_;
  for (const MessageChunk* c = firstChunk(); c != nullptr; c = c->next) {
    if (absolute < c->start + c->used) {
      *out = static_cast<unsigned char>(c->data[absolute - c->start]);
      return true;
    }
  }
  return false;
}

bool SourcedMessage::u32At(uint64_t index, uint32_t* out) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) {
    unsigned char b;
    if (!byteAt(index + static_cast<uint64_t>(i), &b)) return false;
    v = (v << 8) | b;
  }
  *out = v;
  return true;
}

// Steps over one item (its layout as the decoder knows it), pulling bytes
// as needed. False at the end of the data or on a tag with no layout.
bool SourcedMessage::walk(uint64_t* pos, int depth) {
  if (depth > kMaxNesting) return false;
  unsigned char tag;
  if (!byteAt((*pos)++, &tag)) return false;
  uint32_t n;
  switch (tag) {
    case TAG_BOOL: *pos += 1; break;
    case TAG_INT32:
    case TAG_FLOAT:
    case TAG_CMD: *pos += 4; break;
    case TAG_INT64:
    case TAG_DOUBLE: *pos += 8; break;
    case TAG_STRING:
    case TAG_BYTES:
      if (!u32At(*pos, &n)) return false;
      *pos += 4 + uint64_t{n};
      break;
    case TAG_NULL_STRING:
    case TAG_NULL_OBJECT: return true;
    case TAG_STRING_ARRAY:
      if (!u32At(*pos, &n)) return false;
      *pos += 4;
      for (uint32_t i = 0; i < n; i++) {
        uint32_t len;
        if (!u32At(*pos, &len)) return false;
        *pos += 4 + uint64_t{len};
      }
      break;
    case TAG_OBJECT:
    case TAG_CONTAINER: {
      *pos += 4;
      const unsigned char end = tag == TAG_OBJECT ? TAG_OBJECT_END : TAG_CONTAINER_END;
      for (;;) {
        unsigned char t;
        if (!byteAt(*pos, &t)) return false;
        if (t == end) {
          (*pos)++;
          return true;
        }
        if (tag == TAG_OBJECT) {
          if (t != TAG_FIELD) return false;
          *pos += 2;
        }
        if (!walk(pos, depth + 1)) return false;
      }
    }
    default: return false;
  }
  return *pos == 0 || haveThrough(*pos - 1);
}

void SourcedMessage::ensureItem() {
  if (getMode() != MSG_MODE_READ || getError() != 0) return;
  _BufferLocation* loc = getLocation();
  walkStart_ = offsetOf(*loc);
  uint64_t raw = loc->chunk != nullptr ? size() - walkStart_ : 0;
  walkReturned_ = MessageBase::bytesAvailable(*loc) - raw;  // 1 with a pushed-back byte
  walkReturnedByte_ = walkReturned_ == 1 ? peekTag(*loc) : -1;
  if (loc->chunk == nullptr) {
    // Nothing read yet: the item starts at the first byte to come.
    if (!fill()) return;
    walkStart_ = 0;
  }
  uint64_t pos = 0;
  (void)walk(&pos, 0);
}

int SourcedMessage::readObject(int type, Translatable** out) {
  ensureItem();
  return MessageBase::readObject(type, out);
}

int SourcedMessage::readContainer(int type, Translatable** out) {
  ensureItem();
  return MessageBase::readContainer(type, out);
}

int SourcedMessage::readOpaqueObjectField(int field, int* type, char** bytes, size_t* n) {
  if (field == -1) ensureItem();
  return MessageBase::readOpaqueObjectField(field, type, bytes, n);
}

int SourcedMessage::skipObject() {
  ensureItem();
  return MessageBase::skipObject();
}

int SourcedMessage::skipToCmd() {
  for (;;) {
    if (getError() != 0) return -1;
    int tag = peekTag(*getLocation());
    if (tag < 0) {
      if (!fill()) return MessageBase::skipToCmd();
      continue;
    }
    if (tag == TAG_CMD) return 0;
    if (skipObject() != 0) return -1;
  }
}
