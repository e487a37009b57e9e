// The chunk chain, locations, frames and error texts of MessageBase. The item
// writers are in message_write.cpp, the readers in message_read.cpp.
#include "wire/message_base.h"

#include <cstdlib>
#include <cstring>
#include <new>

MessageBase::MessageBase(int mode, int type) : mode_(mode), type_(type) {}

MessageBase::~MessageBase() {
  MessageChunk* c = first_;
  while (c != nullptr) {
    MessageChunk* next = c->next;
    std::free(c);
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
  // allocation per chunk, not two.
  auto* c = static_cast<MessageChunk*>(std::malloc(sizeof(MessageChunk) + (capacity ? capacity : 1)));
  if (c == nullptr) std::abort();  // as operator new would; nothing sensible remains
  new (c) MessageChunk();
  c->data = reinterpret_cast<char*>(c + 1);
  c->capacity = capacity;
  c->start = total_;
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

void MessageBase::chunkFilled(MessageChunk* chunk, size_t n) {
  chunk->used += n;
  total_ += n;
}

uint64_t MessageBase::offsetOf(const _BufferLocation& location) {
  return location.chunk != nullptr ? location.chunk->start + location.offset : 0;
}

uint64_t MessageBase::bytesAvailable(const _BufferLocation& location) const {
  uint64_t n = location.chunk != nullptr ? total_ - offsetOf(location) : 0;
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
    std::free(first_);
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

bool MessageBase::take(_BufferLocation* loc, void* out, size_t n) {
  MessageChunk* c = loc->chunk;
  if (c != nullptr && loc->offset + n <= c->used && !(hasReturned_ && loc == &readLoc_)) {
    std::memcpy(out, c->data + loc->offset, n);
    loc->offset += n;
    return true;
  }
  return readLocBytes(loc, out, n);
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
int MessageBase::readTag(_BufferLocation* loc, int* tag) {
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
  if (depth_ > 0 && frames_[depth_ - 1].container) return &frames_[depth_ - 1].cursor;
  return &readLoc_;
}

// ---- frames ----

MessageBase::Frame& MessageBase::pushFrame(bool container, int type, const _BufferLocation& start) {
  if (static_cast<size_t>(depth_) == frames_.size()) frames_.emplace_back();
  Frame& f = frames_[depth_++];
  f.container = container;
  f.type = type;
  f.start = start;
  f.cursor = start;
  f.fields.clear();
  f.duplicates = false;
  f.hint = 0;
  f.indexed = false;
  pin(start.chunk);
  return f;
}

void MessageBase::popFrame() {
  if (depth_ == 0) return;
  Frame& f = frames_[--depth_];
  unpin(f.start.chunk);
  f.fields.clear();
  releaseConsumed();
}

void MessageBase::freeIndexObject() { popFrame(); }

MessageBase::Frame* MessageBase::objectFrame() {
  for (int i = depth_ - 1; i >= 0; --i) {
    if (!frames_[i].container) return &frames_[i];
  }
  return nullptr;
}

const MessageBase::Frame* MessageBase::objectFrame() const {
  for (int i = depth_ - 1; i >= 0; --i) {
    if (!frames_[i].container) return &frames_[i];
  }
  return nullptr;
}

// Entries in field-number order (stable, so the occurrences of one number stay
// in stream order), for frames where a plain scan could pick the wrong one.
void MessageBase::buildIndex(Frame& f) {
  f.firstOf.assign(257, 0);
  for (const FieldEntry& e : f.fields) ++f.firstOf[e.field + 1];
  for (int i = 1; i <= 256; ++i) f.firstOf[i] += f.firstOf[i - 1];
  f.order.resize(f.fields.size());
  std::vector<uint32_t> next(f.firstOf.begin(), f.firstOf.end() - 1);
  for (uint32_t i = 0; i < f.fields.size(); ++i) f.order[next[f.fields[i].field]++] = i;
  f.indexed = true;
}

int MessageBase::fieldLocation(int field, int occurrence, _BufferLocation* out) {
  Frame* f = objectFrame();
  if (f == nullptr || field < 0 || field > 255 || occurrence < 0) return MSG_ERR_MISSING_FIELD;
  const auto want = static_cast<unsigned>(field);
  size_t n = f->fields.size();
  if (!f->duplicates) {
    if (occurrence > 0) return MSG_ERR_MISSING_FIELD;
    // Translators mostly read fields in the order they were written: start
    // where the last lookup ended.
    for (size_t k = 0; k < n; ++k) {
      size_t i = f->hint + k;
      if (i >= n) i -= n;
      if (f->fields[i].field == want) {
        f->hint = i + 1 == n ? 0 : i + 1;
        *out = {f->fields[i].chunk, f->fields[i].offset};
        return 0;
      }
    }
    return MSG_ERR_MISSING_FIELD;
  }
  if (!f->indexed) buildIndex(*f);
  uint32_t at = f->firstOf[want] + static_cast<uint32_t>(occurrence);
  if (at >= f->firstOf[want + 1]) return MSG_ERR_MISSING_FIELD;
  const FieldEntry& e = f->fields[f->order[at]];
  *out = {e.chunk, e.offset};
  return 0;
}

int MessageBase::findField(int field, _BufferLocation* out) { return findField(field, 0, out); }

int MessageBase::findField(int field, int occurrence, _BufferLocation* out) {
  if (error_ != 0) return -1;
  _BufferLocation loc;
  int rc = fieldLocation(field, occurrence, &loc);
  if (rc != 0) return fail(rc);
  *out = loc;
  return 0;
}

bool MessageBase::hasField(int field) const {
  const Frame* f = objectFrame();
  if (f == nullptr || field < 0 || field > 255) return false;
  for (const FieldEntry& e : f->fields) {
    if (e.field == static_cast<unsigned>(field)) return true;
  }
  return false;
}

int MessageBase::fieldCount() const {
  const Frame* f = objectFrame();
  return f != nullptr ? static_cast<int>(f->fields.size()) : 0;
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
