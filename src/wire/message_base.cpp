// The chunk chain, locations, frames and error texts of MessageBase. The item
// writers are in message_write.cpp, the readers in message_read.cpp.
#include "wire/message_base.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "wire/chunk_cache.h"

MessageBase::MessageBase(int mode, int type) : mode_(mode), type_(type) {}

MessageBase::~MessageBase() {
  MessageChunk* c = first_;
  while (c != nullptr) {
    MessageChunk* next = c->next;
    freeChunk(c);
    c = next;
  }
}

const char* MessageBase::errorText(int code) {
  switch (code) {
    case MSG_ERR_EOF: return "Unexpected end of file";
    case MSG_ERR_INCOMPLETE: return "Incomplete message";
    case MSG_ERR_MISSING_TYPE: return "Missing type in message";
    case MSG_ERR_BAD_TYPE: return "Invalid or unexpected type";
    case MSG_ERR_MISSING_FIELD: return "Missing field in object";
    case MSG_ERR_MISSING_FIELD_CODE: return "Missing field code";
    case MSG_ERR_BAD_FIELD_CODE: return "Unexpected field code";
    case MSG_ERR_NO_XLATOR: return "No translator for this object";
    case MSG_ERR_NULL_OBJECT: return "Unexpected NULL object";
    default: return "";
  }
}

int MessageBase::fail(int code) {
  // The first failure is the one worth reporting: later ones are its echoes.
  if (error_ == 0) error_ = code;
  return -1;
}

// ---- chunk chain ----

MessageChunk* MessageBase::addChunk(size_t capacity) {
  // Header and data in one block: a message of small items costs one
  // allocation per chunk, not two. Large blocks come from the chunk cache.
  size_t bytes = sizeof(MessageChunk) + (capacity ? capacity : 1);
  size_t block = 0;
  void* p;
  if (ChunkCache::cached(bytes)) {
    p = ChunkCache::shared().acquire(bytes, &block);
  } else {
    p = std::malloc(bytes);
    if (p == nullptr) std::abort();  // as operator new would; nothing sensible remains
  }
  auto* c = new (p) MessageChunk();
  c->data = reinterpret_cast<char*>(c + 1);
  c->capacity = capacity;
  c->block = block;
  c->start = size();
  if (last_ != nullptr) {
    last_->next = c;
  } else {
    first_ = c;
  }
  last_ = c;
  if (readLoc_.chunk == nullptr) {
    readLoc_.chunk = c;
    readLoc_.offset = 0;
    pin(c);
  }
  return c;
}

MessageChunk* MessageBase::addForeignChunk(const void* data, size_t n, void (*release)(void*), void* arg) {
  MessageChunk* c = addChunk(0);
  c->data = static_cast<char*>(const_cast<void*>(data));
  c->capacity = n;
  c->used = n;
  c->release = release;
  c->releaseArg = arg;
  return c;
}

void MessageBase::freeChunk(MessageChunk* chunk) {
  if (chunk->release != nullptr) chunk->release(chunk->releaseArg);
  if (chunk->block != 0) {
    ChunkCache::shared().release(chunk, chunk->block);
  } else {
    std::free(chunk);
  }
}

void MessageBase::chunkFilled(MessageChunk* chunk, size_t n) {
  chunk->used += n;
}

uint64_t MessageBase::offsetOf(const _BufferLocation& location) {
  return location.chunk != nullptr ? location.chunk->start + location.offset : 0;
}

uint64_t MessageBase::bytesAvailable(const _BufferLocation& location) const {
  uint64_t n = location.chunk != nullptr ? size() - offsetOf(location) : 0;
  if (&location == &readLoc_ && hasReturned_) ++n;
  return n;
}

void MessageBase::pin(MessageChunk* chunk) {
  if (chunk != nullptr) ++chunk->refs;
}

void MessageBase::unpin(MessageChunk* chunk) {
  if (chunk != nullptr) --chunk->refs;
}

// Chunks before the first one that the read location or an open frame points
// into can never be read again: every location only moves forward, and every
// live location lies at or after the oldest pinned one.
void MessageBase::releaseConsumed() {
  if (mode_ != MSG_MODE_READ) return;
  while (first_ != nullptr && first_->refs == 0 && first_ != last_) {
    MessageChunk* next = first_->next;
    freeChunk(first_);
    first_ = next;
  }
}

void MessageBase::moveToNext(_BufferLocation* loc) {
  MessageChunk* old = loc->chunk;
  loc->chunk = old->next;
  loc->offset = 0;
  if (loc == &readLoc_) {
    pin(loc->chunk);
    unpin(old);
    releaseConsumed();
  }
}

bool MessageBase::normalize(_BufferLocation* loc) {
  if (loc->chunk == nullptr) {
    // Only the read location of a message that had no bytes yet can be empty.
    if (loc != &readLoc_ || first_ == nullptr) return false;
    *loc = {first_, 0};
    pin(first_);
  }
  while (loc->offset >= loc->chunk->used) {
    if (loc->chunk->next == nullptr) return false;
    moveToNext(loc);
  }
  return true;
}

bool MessageBase::readLocBytes(_BufferLocation* loc, void* out, size_t n) {
  auto* dst = static_cast<char*>(out);
  if (n == 0) return true;
  if (bytesAvailable(*loc) < n) return false;
  if (loc == &readLoc_ && hasReturned_) {
    *dst++ = static_cast<char>(returned_);
    hasReturned_ = false;
    --n;
  }
  while (n > 0) {
    if (!normalize(loc)) return false;  // cannot happen: the bytes were counted
    MessageChunk* c = loc->chunk;
    size_t k = c->used - loc->offset;
    if (k > n) k = n;
    std::memcpy(dst, c->data + loc->offset, k);
    loc->offset += k;
    dst += k;
    n -= k;
  }
  return true;
}

bool MessageBase::skipBytes(_BufferLocation* loc, uint64_t n) {
  if (n == 0) return true;
  if (bytesAvailable(*loc) < n) return false;
  if (loc == &readLoc_ && hasReturned_) {
    hasReturned_ = false;
    --n;
  }
  while (n > 0) {
    if (!normalize(loc)) return false;
    MessageChunk* c = loc->chunk;
    uint64_t k = c->used - loc->offset;
    if (k > n) k = n;
    loc->offset += k;
    n -= k;
  }
  return true;
}

void MessageBase::returnByte(unsigned char byte) {
  // In a chain the byte is usually the one just read: step back over it.
  if (readLoc_.chunk != nullptr && readLoc_.offset > 0 && !hasReturned_ &&
      static_cast<unsigned char>(readLoc_.chunk->data[readLoc_.offset - 1]) == byte) {
    --readLoc_.offset;
    return;
  }
  hasReturned_ = true;
  returned_ = byte;
}

const unsigned char* MessageBase::peekContiguous(_BufferLocation* location, size_t* n) {
  if ((hasReturned_ && location == &readLoc_) || !normalize(location)) return nullptr;
  *n = location->chunk->used - location->offset;
  return reinterpret_cast<const unsigned char*>(location->chunk->data) + location->offset;
}

int MessageBase::peekTag(const _BufferLocation& location) {
  if (&location == &readLoc_ && hasReturned_) return returned_;
  _BufferLocation copy = location;
  if (copy.chunk == nullptr) {
    if (&location != &readLoc_ || first_ == nullptr) return -1;
    copy = {first_, 0};
  }
  while (copy.offset >= copy.chunk->used) {
    if (copy.chunk->next == nullptr) {
      unsigned char b;
      // A store that fetches on demand may still produce a byte.
      return readLocBytes(&copy, &b, 1) ? b : -1;
    }
    copy = {copy.chunk->next, 0};
  }
  return static_cast<unsigned char>(copy.chunk->data[copy.offset]);
}

// Tag bytes are read and, when unwanted, pushed back through these two, which
// remember where the byte came from so that it goes back to the same place.
int MessageBase::readTagSlow(_BufferLocation* loc, int* tag) {
  if (loc == &readLoc_ && hasReturned_) {
    hasReturned_ = false;
    tagSource_ = TagSource::kReturned;
    *tag = returned_;
    return 0;
  }
  if (normalize(loc)) {
    *tag = static_cast<unsigned char>(loc->chunk->data[loc->offset++]);
    tagSource_ = TagSource::kChunk;
    return 0;
  }
  unsigned char b;
  if (readLocBytes(loc, &b, 1)) {
    *tag = b;
    tagSource_ = TagSource::kStore;
    return 0;
  }
  return -1;
}

void MessageBase::unreadTag(_BufferLocation* loc, int tag) {
  if (tagSource_ == TagSource::kChunk && loc->offset > 0) {
    --loc->offset;
  } else if (loc == &readLoc_) {
    hasReturned_ = true;
    returned_ = static_cast<unsigned char>(tag);
  } else if (loc->offset > 0) {
    --loc->offset;
  }
}

void MessageBase::assignLocation(_BufferLocation* loc, const _BufferLocation& value) {
  if (loc == &readLoc_) {
    pin(value.chunk);
    unpin(readLoc_.chunk);
    readLoc_ = value;
    releaseConsumed();
  } else {
    *loc = value;
  }
}

_BufferLocation* MessageBase::getLocation() {
  if (top_ != nullptr && top_->container) return &top_->cursor;
  return &readLoc_;
}

// ---- frames ----

MessageBase::Frame& MessageBase::pushFrame(bool container, int type, const _BufferLocation& start) {
  if (static_cast<size_t>(depth_) == frames_.size()) frames_.emplace_back();
  Frame& f = frames_[depth_++];
  f.container = container;
  f.pending = false;
  f.complete = false;
  f.duplicates = false;
  f.type = type;
  f.start = start;
  f.cursor = start;
  f.origin = nullptr;
  f.fields.clear();
  f.seen[0] = f.seen[1] = f.seen[2] = f.seen[3] = 0;
  f.hint = 0;
  f.outerObject = objectTop_;
  if (!container) objectTop_ = &f;
  top_ = &f;
  pin(start.chunk);
  return f;
}

void MessageBase::popFrame() {
  if (depth_ == 0) return;
  Frame& f = frames_[--depth_];
  objectTop_ = f.outerObject;
  top_ = depth_ > 0 ? &frames_[depth_ - 1] : nullptr;
  unpin(f.start.chunk);
  f.fields.clear();
  if (f.duplicates) {
    for (auto& v : f.byField) v.clear();
  }
  releaseConsumed();
}

MessageBase::Frame* MessageBase::objectFrame() { return objectTop_; }

const MessageBase::Frame* MessageBase::objectFrame() const { return objectTop_; }

// Scans one more field of an object frame (or its trailer): passes the value
// of the last entry (by its known end, else by skipping it), then reads the
// next tag. Returns a code; the caller sets it.
int MessageBase::scanNext(Frame& f) {
  if (f.pending) {
    FieldEntry& last = f.fields.back();
    if (last.hasEnd) {
      f.cursor = {last.endChunk, last.endOffset};
    } else {
      int rc = skipValue(&f.cursor, MSG_ERR_MISSING_FIELD_CODE);
      if (rc != 0) return rc;
      last.endChunk = f.cursor.chunk;
      last.endOffset = f.cursor.offset;
      last.hasEnd = true;
    }
    f.pending = false;
  }
  int tag;
  if (readTag(&f.cursor, &tag) != 0) return MSG_ERR_MISSING_FIELD_CODE;
  if (tag == TAG_OBJECT_END) {
    f.complete = true;
    return 0;
  }
  if (tag != TAG_FIELD) return MSG_ERR_BAD_FIELD_CODE;
  unsigned char n;
  if (!take(&f.cursor, &n, 1)) return MSG_ERR_MISSING_FIELD_CODE;
  // A value must follow: data that ends here ends inside the object.
  if (f.cursor.offset >= f.cursor.chunk->used && peekTag(f.cursor) < 0) return MSG_ERR_MISSING_FIELD_CODE;
  const auto index = static_cast<uint32_t>(f.fields.size());
  f.fields.push_back({f.cursor.chunk, f.cursor.offset, nullptr, 0, n, false});
  f.pending = true;
  const uint64_t bit = uint64_t{1} << (n & 63);
  if (f.seen[n >> 6] & bit) {
    if (!f.duplicates) {
      // From the first repeated number on, occurrences are kept per number.
      f.duplicates = true;
      f.byField.resize(256);
      for (uint32_t i = 0; i < index; ++i) f.byField[f.fields[i].field].push_back(i);
    }
  }
  f.seen[n >> 6] |= bit;
  if (f.duplicates) f.byField[n].push_back(index);
  return 0;
}

// Reads on to the trailer and moves the frame's origin past it.
int MessageBase::finishFrame(Frame& f) {
  while (!f.complete) {
    int rc = scanNext(f);
    if (rc != 0) return rc;
  }
  if (f.origin != nullptr) assignLocation(f.origin, f.cursor);
  return 0;
}

bool MessageBase::findScanned(Frame& f, unsigned field, int occurrence, size_t* index) {
  if ((f.seen[field >> 6] & (uint64_t{1} << (field & 63))) == 0) return false;
  if (f.duplicates) {
    const auto& v = f.byField[field];
    if (static_cast<size_t>(occurrence) >= v.size()) return false;
    *index = v[occurrence];
    return true;
  }
  if (occurrence != 0) return false;
  // Translators mostly read fields in the order they were written: start
  // where the last lookup ended.
  const size_t n = f.fields.size();
  for (size_t k = 0; k < n; ++k) {
    size_t i = f.hint + k;
    if (i >= n) i -= n;
    if (f.fields[i].field == field) {
      f.hint = i + 1 == n ? 0 : i + 1;
      *index = i;
      return true;
    }
  }
  return false;
}

// Locates occurrence `occurrence` of field `field` of the innermost object
// frame, scanning further as needed. Returns a code without setting it.
int MessageBase::openField(int field, int occurrence, FieldRef* ref) {
  Frame* f = objectFrame();
  if (f == nullptr || field < 0 || field > 255 || occurrence < 0) return MSG_ERR_MISSING_FIELD;
  const auto want = static_cast<unsigned>(field);
  size_t index;
  bool found = findScanned(*f, want, occurrence, &index);
  while (!found && !f->complete) {
    int rc = scanNext(*f);
    if (rc != 0) return rc;
    if (!f->complete && f->fields.back().field == want) found = findScanned(*f, want, occurrence, &index);
  }
  if (!found) return MSG_ERR_MISSING_FIELD;
  const FieldEntry& e = f->fields[index];
  ref->loc = {e.chunk, e.offset};
  ref->frame = f;
  ref->index = index;
  return 0;
}

// Records where a value that was just read ends.
void MessageBase::closeField(const FieldRef& ref) {
  FieldEntry& e = ref.frame->fields[ref.index];
  if (!e.hasEnd) {
    e.endChunk = ref.loc.chunk;
    e.endOffset = ref.loc.offset;
    e.hasEnd = true;
  }
}

int MessageBase::findField(int field, _BufferLocation* out) { return findField(field, 0, out); }

int MessageBase::findField(int field, int occurrence, _BufferLocation* out) {
  if (error_ != 0) return -1;
  FieldRef ref;
  int rc = openField(field, occurrence, &ref);
  if (rc != 0) return fail(rc);
  *out = ref.loc;
  return 0;
}

bool MessageBase::hasField(int field) {
  if (error_ != 0) return false;
  FieldRef ref;
  int rc = openField(field, 0, &ref);
  if (rc != 0 && rc != MSG_ERR_MISSING_FIELD) fail(rc);
  return rc == 0;
}

int MessageBase::fieldCount() {
  Frame* f = objectFrame();
  if (f == nullptr) return 0;
  while (!f->complete) {
    int rc = scanNext(*f);
    if (rc != 0) return fail(rc);
  }
  return static_cast<int>(f->fields.size());
}

uint64_t MessageBase::bytesInObject() const {
  const Frame* f = objectFrame();
  return f != nullptr ? size() - offsetOf(f->start) : 0;
}

int MessageBase::freeIndexObject() {
  if (depth_ == 0) return 0;
  int rc = 0;
  Frame& f = frames_[depth_ - 1];
  if (!f.container && error_ == 0) rc = finishFrame(f);
  popFrame();
  return rc != 0 ? fail(rc) : (error_ != 0 ? -1 : 0);
}

// ---- buffer helpers ----

void MessageBase::freeString(char* text) { std::free(text); }

void MessageBase::freeStringArray(char** strings) {
  if (strings == nullptr) return;
  for (char** p = strings; *p != nullptr; ++p) std::free(*p);
  std::free(strings);
}

void MessageBase::freeBytes(char* bytes) { std::free(bytes); }

void MessageBase::freeOpaqueObjectBuffer(char* bytes) { std::free(bytes); }

char* MessageBase::dupOpaqueObjectBuffer(const char* bytes, size_t n) {
  if (bytes == nullptr) return nullptr;
  auto* copy = static_cast<char*>(std::malloc(n ? n : 1));
  if (copy != nullptr && n > 0) std::memcpy(copy, bytes, n);
  return copy;
}
