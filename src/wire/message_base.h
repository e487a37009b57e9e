// MessageBase: the tagged binary encoding that carries every record exchanged
// with the directory and every deep copy of an object held in an `Any`.
// Items are written to, and decoded in place from, a chain of memory chunks.
//
// A message is used by one thread at a time. The translator registry (the
// static functions at the end) is filled at start-up and then read by any
// thread without a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class Translatable;
class MessageBase;

// A translator writes (direction 1) or reads (direction 2) the fields of one
// kind of object. Direction 1 writes only the fields of *object (the caller
// writes the header and trailer). Direction 2 creates a new object, stores it
// in *object and reads its fields; on failure it deletes what it created,
// leaves *object alone and returns -1. Returns 0 or -1.
using Xlator = int (*)(MessageBase* message, Translatable** object, int direction);

enum : int { XLATE_ENCODE = 1, XLATE_DECODE = 2 };

// Modes of a message.
enum : int { MSG_MODE_WRITE = 1, MSG_MODE_READ = 2 };

// The decoder's error states; kept until recover().
enum : int {
  MSG_ERR_EOF = -11,                // the tag byte could not be read
  MSG_ERR_INCOMPLETE = -12,         // the bytes after a tag could not be read
  MSG_ERR_MISSING_TYPE = -13,       // a tag with no known layout
  MSG_ERR_BAD_TYPE = -14,           // an unexpected tag or object type
  MSG_ERR_MISSING_FIELD = -15,      // no such field in the current object
  MSG_ERR_MISSING_FIELD_CODE = -16, // the data ended inside an object
  MSG_ERR_BAD_FIELD_CODE = -17,     // neither a field nor a trailer inside an object
  MSG_ERR_NO_XLATOR = -18,          // no translator for the type
  MSG_ERR_NULL_OBJECT = -19,        // (status only) a null object where one was needed
};

// Item tags. Every multi-byte number that follows a tag is big-endian.
enum : unsigned char {
  TAG_BOOL = 1,
  TAG_INT32 = 2,
  TAG_INT64 = 3,
  TAG_FLOAT = 4,
  TAG_DOUBLE = 5,
  TAG_STRING = 6,
  TAG_NULL_STRING = 7,  // also a null string array
  TAG_NULL_OBJECT = 8,
  TAG_OBJECT = 9,
  TAG_OBJECT_END = 10,
  TAG_FIELD = 11,
  TAG_CONTAINER = 12,
  TAG_CONTAINER_END = 13,
  TAG_BYTES = 14,
  TAG_STRING_ARRAY = 15,
  TAG_CMD = 16,
};

// One block of message bytes. `start` is the offset of data[0] from the start
// of the message; `refs` counts the read location and the open frames that
// point into the chunk, which keep it (and every chunk after it) alive.
struct MessageChunk {
  char* data = nullptr;
  size_t capacity = 0;
  size_t used = 0;
  int refs = 0;
  MessageChunk* next = nullptr;
  uint64_t start = 0;
  // How the chunk goes away: `block` is the size of its ChunkCache block (0:
  // a plain allocation); `release` (with `releaseArg`) lets go of bytes the
  // chunk refers to but does not hold.
  size_t block = 0;
  void (*release)(void*) = nullptr;
  void* releaseArg = nullptr;
};

// A position in the chunk chain. A location at the end of a chunk and one at
// the start of the next are the same position.
struct _BufferLocation {
  MessageChunk* chunk = nullptr;
  size_t offset = 0;
};

class MessageBase {
 public:
  // The deepest nesting of objects and containers the decoder follows; deeper
  // input is refused with MSG_ERR_BAD_TYPE instead of exhausting the stack.
  static constexpr int kMaxNesting = 256;

  virtual ~MessageBase();
  MessageBase(const MessageBase&) = delete;
  MessageBase& operator=(const MessageBase&) = delete;

  // The byte store. appendBytes adds n bytes at the end (mode 1, or a receiver
  // filling a mode-2 message). readLocBytes copies the n bytes at *location
  // into `out` and moves the location past them; false (nothing moved) when
  // fewer than n bytes remain. returnByte pushes one byte back in front of the
  // read location; the next read there takes it first.
  virtual void appendBytes(const void* data, size_t n) = 0;
  virtual bool readLocBytes(_BufferLocation* location, void* out, size_t n);
  virtual void returnByte(unsigned char byte);

  // Bytes that can be read from `location` on without waiting. Readers never
  // allocate for a length the data does not hold.
  [[nodiscard]] virtual uint64_t bytesAvailable(const _BufferLocation& location) const;

  [[nodiscard]] int getMode() const { return mode_; }
  [[nodiscard]] int getMessageType() const { return type_; }
  void setMessageType(int type) { type_ = type; }
  // Used while a message is received from a connection.
  [[nodiscard]] int64_t getExpectedLength() const { return expectedLength_; }
  void setExpectedLength(int64_t n) { expectedLength_ = n; }
  [[nodiscard]] int64_t getReceivedCount() const { return receivedCount_; }
  void setReceivedCount(int64_t n) { receivedCount_ = n; }

  // Every byte ever appended (consumed chunks included): the chunks before
  // the last one hold exactly its start offset.
  [[nodiscard]] uint64_t size() const { return last_ != nullptr ? last_->start + last_->used : 0; }
  // The first chunk still held (the chain of a message being written is
  // complete); null when the message holds no bytes.
  [[nodiscard]] const MessageChunk* firstChunk() const { return first_; }
  // Offset of `location` from the start of the message.
  [[nodiscard]] static uint64_t offsetOf(const _BufferLocation& location);

  // ---- error state ----
  // While the state is non-zero every read returns -1 at once, and so does
  // every write (the message is broken and must not be sent).
  [[nodiscard]] int getError() const { return error_; }
  void setError(int code) { error_ = code; }
  void recover() { error_ = 0; }
  // The text of an error state or status of this layer (-11 to -19), else "".
  [[nodiscard]] static const char* errorText(int code);

  // ---- writing (each writes one item; a failure sets the error state) ----
  int writeBool(bool value);
  int writeInt32(int value);
  int writeInt64(long long value);
  int writeFloat(float value);
  int writeDouble(double value);
  int writeString(const char* text);     // null writes the null-string tag
  int writeStringArray(char** strings);  // NULL-terminated; null writes the null-string tag
  int writeBytes(size_t n, const char* data);
  int writeCmd(int command);
  // The same items as the value of field `field` of the object being written.
  // Field numbers are one byte: the low eight bits of `field` are written.
  int writeBoolField(int field, bool value);
  int writeInt32Field(int field, int value);
  int writeInt64Field(int field, long long value);
  int writeFloatField(int field, float value);
  int writeDoubleField(int field, double value);
  int writeStringField(int field, const char* text);
  int writeStringArrayField(int field, char** strings);
  int writeBytesField(int field, size_t n, const char* data);

  // An object through the translator of `type`; null writes a null object.
  // A type without translator is a programming error: it is logged and fails
  // a fatal assertion; should the process go on, a null object is written and
  // the error state becomes MSG_ERR_NO_XLATOR.
  int writeObject(int type, const Translatable* object);
  int writeObjectField(int field, int type, const Translatable* object);
  // A container: header, the translator (which writes the items with
  // writeObject), trailer. Without translator it logs and writes nothing (not
  // even the field prefix) and sets MSG_ERR_NO_XLATOR. A null object writes an
  // empty container.
  int writeContainer(int type, const Translatable* object);
  int writeContainerField(int field, int type, const Translatable* object);
  int writeObjectHeader(int type);
  int writeObjectTrailer();
  int writeContainerHeader(int type);
  int writeContainerTrailer();
  // Appends the complete, already encoded object `bytes` unchanged (null
  // writes a null object). `type` is the object's id, recorded in `bytes`.
  int writeOpaqueObject(int type, const char* bytes, size_t n);
  int writeOpaqueObjectField(int field, int type, const char* bytes, size_t n);
  // Appends `n` bytes that already are whole items, unchanged: for a
  // translator that assembles several small fields at once.
  int writeEncoded(const void* bytes, size_t n);
  // Room for up to `n` bytes at the end of the message, to be filled with
  // whole items in place and then counted with commitEncoded(k <= n). Null
  // when the message is in the error state or its store takes bytes only
  // through appendBytes (use writeEncoded then).
  [[nodiscard]] unsigned char* encodeRoom(size_t n);
  void commitEncoded(size_t n);

  // ---- reading (0 on success, -1 with the error state set on failure; out
  // parameters are written only on success) ----

  // Mode 2, then skips the 9-byte frame header at the read location and takes
  // the message type from it when still unknown.
  int switchToRead();

  // Items at the current location (getLocation()).
  [[nodiscard]] int readCmd(int& out);
  [[nodiscard]] int readInt32(int& out);
  [[nodiscard]] int readInt64(long long& out);
  [[nodiscard]] int readFloat(float& out);
  [[nodiscard]] int readDouble(double& out);
  [[nodiscard]] int readBool(bool& out);
  // A new NUL-terminated text (free with freeString), or null for the
  // null-string tag.
  [[nodiscard]] int readString(char*& out);
  // A new NULL-terminated array (free with freeStringArray), or null.
  [[nodiscard]] int readStringArray(char**& out);
  // A new buffer of n bytes (free with freeBytes); a null-string tag gives
  // null and 0.
  [[nodiscard]] int readBytes(size_t& n, char*& out);

  // Fields of the object being read (the innermost object frame). An absent
  // field sets MSG_ERR_MISSING_FIELD. readInt32Field also takes an int64 (its
  // low 32 bits); readInt64Field also takes an int32 (sign-extended).
  [[nodiscard]] int readBoolField(int field, bool& out);
  [[nodiscard]] int readInt32Field(int field, int& out);
  [[nodiscard]] int readInt64Field(int field, long long& out);
  [[nodiscard]] int readFloatField(int field, float& out);
  [[nodiscard]] int readDoubleField(int field, double& out);
  [[nodiscard]] int readStringField(int field, char*& out);
  [[nodiscard]] int readStringArrayField(int field, char**& out);
  [[nodiscard]] int readBytesField(int field, size_t& n, char*& out);
  // True when the innermost object frame has the field. False when it has
  // not (no error), or when the object turns out malformed (error set).
  [[nodiscard]] bool hasField(int field);
  // Number of fields of the innermost object frame (0 without one); -1 with
  // the error state set when the object is malformed.
  [[nodiscard]] int fieldCount();
  // Bytes from the start of the innermost object frame to the end of the
  // data: a bound for counts read from the object (0 without a frame).
  [[nodiscard]] uint64_t bytesInObject() const;

  // An object of `type` (a null object gives null and status 0). readObject
  // logs "Warning: object translator failed for ObjectId: %d" when the
  // translator fails.
  [[nodiscard]] int readObject(int type, Translatable** out);
  [[nodiscard]] int readObjectField(int field, int type, Translatable** out);
  // The occurrence-th (from 0) field numbered `field & 0xFF`: arrays longer
  // than the one-byte field numbers reuse each number in order.
  [[nodiscard]] int readObjectFieldOccurrence(int field, int occurrence, int type, Translatable** out);
  [[nodiscard]] int readContainer(int type, Translatable** out);
  [[nodiscard]] int readContainerField(int field, int type, Translatable** out);
  // The items of the container at `field` added to `into`, an object the
  // caller made (whose translator, given a non-null *object in direction 2,
  // fills it instead of making one). `into` stays the caller's.
  [[nodiscard]] int readContainerFieldInto(int field, int type, Translatable* into);
  [[nodiscard]] int readContainerHeader(_BufferLocation* location, int* type);
  [[nodiscard]] int readContainerTrailer(_BufferLocation* location);
  // Single items at `location` for tools that walk an encoding without
  // translators.
  [[nodiscard]] int readObjectHeader(_BufferLocation* location, int* type);
  [[nodiscard]] int readObjectTrailer(_BufferLocation* location);
  [[nodiscard]] int readFieldHeader(_BufferLocation* location, int* field);
  // The tag at `location` without moving it; -1 at the end of the data.
  [[nodiscard]] int peekTag(const _BufferLocation& location);

  // The bytes from `location` to the end of its chunk (moving the location to
  // the next chunk first when it stands at the end of one), for readers of
  // whole items in one run; null when there are none or a pushed-back byte
  // stands first. skipContiguous moves the location over k of them.
  [[nodiscard]] const unsigned char* peekContiguous(_BufferLocation* location, size_t* n);
  void skipContiguous(_BufferLocation* location, size_t k) { location->offset += k; }

  // Inside a container being read: true while the next byte is not the
  // container trailer. False at the end of the data or in the error state.
  [[nodiscard]] bool hasNext();

  // Copies the whole encoding of the object at `field` (-1: at the current
  // location, which moves past it) into a new buffer (free with
  // freeOpaqueObjectBuffer) and reports the type id from its header. A null
  // object returns MSG_ERR_NULL_OBJECT without setting the error state.
  [[nodiscard]] int readOpaqueObjectField(int field, int* type, char** bytes, size_t* n);

  // Skips the next item at the current location.
  [[nodiscard]] int skipObject();
  // Skips items until the next one is a command (left to readCmd).
  [[nodiscard]] int skipToCmd();
  // Where the value of `field` of the innermost object frame starts.
  [[nodiscard]] int findField(int field, _BufferLocation* out);
  [[nodiscard]] int findField(int field, int occurrence, _BufferLocation* out);
  // The location unnamed items are read at: the cursor of the innermost
  // container being read, else the message's read location. It stays valid
  // until the read location moves past it (consumed chunks are released).
  [[nodiscard]] _BufferLocation* getLocation();
  // Reads the object header at `location` and opens its frame, so that the
  // field readers apply to it; *type receives its id. A null object returns
  // MSG_ERR_NULL_OBJECT (no error state, no frame). Fields are found in
  // stream order as they are asked for. freeIndexObject() reads on to the
  // trailer, moves `location` past it (it must stay valid until then) and
  // closes the frame; it fails (-1, error state) on a malformed object.
  [[nodiscard]] int indexObjectForRead(_BufferLocation* location, int* type);
  int freeIndexObject();
  // Opens the next item of the container being read as an object of `type`
  // (for list translators): 1 for a null item (nothing to close), 0 with the
  // object's frame open, -1 on failure (a wrong type sets MSG_ERR_BAD_TYPE).
  [[nodiscard]] int openContainerItem(int type);
  // Depth of objects and containers being written.
  [[nodiscard]] int writingDepth() const { return writeDepth_; }
  // Depth of open frames (objects and containers being read).
  [[nodiscard]] int frameDepth() const { return depth_; }

  // ---- buffer helpers (the readers' results) ----
  static void freeString(char* text);
  static void freeStringArray(char** strings);
  static void freeBytes(char* bytes);
  static void freeOpaqueObjectBuffer(char* bytes);
  [[nodiscard]] static char* dupOpaqueObjectBuffer(const char* bytes, size_t n);

  // ---- translator registry ----
  // Adds (type, fn) in front of the list: a later registration of a type wins.
  // `name` (a static text, may be null) is shown by tools that dump messages.
  static void registerObjectXlator(int type, Xlator fn, const char* name = nullptr);
  // Type 7 always gives the principal translator; otherwise the translator
  // registered last for the type, or null.
  [[nodiscard]] static Xlator findXlatorFn(int type);
  // The name given with the translator of `type`, or null.
  [[nodiscard]] static const char* findXlatorName(int type);
  // Every registered type id, each once, in ascending order.
  [[nodiscard]] static std::vector<int> registeredTypes();
  // Forgets every registration. Not to be called while messages are in use.
  static void unregisterAll();

 protected:
  explicit MessageBase(int mode, int type);

  // Appends an empty chunk of `capacity` bytes at the end of the chain.
  MessageChunk* addChunk(size_t capacity);
  // Appends a full chunk over `n` bytes held elsewhere: nothing is ever
  // written into it, and release(arg) runs once the message no longer needs
  // the bytes (when the chunk is freed, on whichever thread frees it).
  MessageChunk* addForeignChunk(const void* data, size_t n, void (*release)(void*), void* arg);
  // Records that `n` bytes were added to the last chunk.
  void chunkFilled(MessageChunk* chunk, size_t n);
  [[nodiscard]] MessageChunk* lastChunk() const { return last_; }
  // For stores whose appendBytes fills the last chunk when it has room: small
  // items are then written there directly.
  void enableDirectWrite() { directWrite_ = true; }
  void setMode(int mode) { mode_ = mode; }

 private:
  // Where a field's value starts, and once it has been read or skipped,
  // where it ends (so that looking further never passes it twice).
  struct FieldEntry {
    MessageChunk* chunk;
    size_t offset;
    MessageChunk* endChunk;
    size_t endOffset;
    unsigned char field;
    bool hasEnd;
  };
  // An object or container being read. An object's fields are scanned
  // lazily: `cursor` is where scanning goes on (at the start of the last
  // entry's value while `pending`), `complete` once the trailer was read.
  struct Frame {
    bool container = false;
    bool pending = false;
    bool complete = false;
    bool duplicates = false;
    int type = 0;
    _BufferLocation start;   // pinned while the frame is open
    _BufferLocation cursor;  // container: the next item; object: the scan position
    _BufferLocation* origin = nullptr;  // object: moved past the trailer on closing
    Frame* outerObject = nullptr;       // the object frame below this one
    std::vector<FieldEntry> fields;
    uint64_t seen[4] = {0, 0, 0, 0};  // field numbers met so far
    size_t hint = 0;                  // where the next lookup among entries starts
    std::vector<std::vector<uint32_t>> byField;  // entries per number, once there are duplicates
  };
  // A field located for reading: the value's location and its entry.
  struct FieldRef {
    _BufferLocation loc;
    Frame* frame;
    size_t index;
  };

  // The shared bodies of the item and field writers; field -1: no prefix.
  template <size_t N, class Fill>
  int put(Fill&& fill);
  int writeItem(const unsigned char* bytes, size_t n);
  int writeBlock(int field, unsigned char tag, const char* data, size_t len);
  int writeStringAt(int field, const char* text);
  int writeStringArrayAt(int field, char** strings);
  int writeObjectAt(int field, int type, const Translatable* object);
  int writeContainerAt(int field, int type, const Translatable* object);
  int writeOpaqueObjectAt(int field, int type, const char* bytes, size_t n);
  int fail(int code);
  // The byte access of every reader: inline fast paths within one chunk,
  // the general path (chunk crossings, the store's own reading) out of line.
  [[nodiscard]] bool take(_BufferLocation* loc, void* out, size_t n) {
    MessageChunk* c = loc->chunk;
    if (c != nullptr && n <= c->used - loc->offset && !(hasReturned_ && loc == &readLoc_)) {
      __builtin_memcpy(out, c->data + loc->offset, n);
      loc->offset += n;
      return true;
    }
    return readLocBytes(loc, out, n);
  }
  [[nodiscard]] bool skipBytes(_BufferLocation* loc, uint64_t n);
  [[nodiscard]] bool normalize(_BufferLocation* loc);
  void moveToNext(_BufferLocation* loc);
  void unreadTag(_BufferLocation* loc, int tag);
  void assignLocation(_BufferLocation* loc, const _BufferLocation& value);
  void pin(MessageChunk* chunk);
  void unpin(MessageChunk* chunk);
  void releaseConsumed();
  static void freeChunk(MessageChunk* chunk);
  [[nodiscard]] int readTag(_BufferLocation* loc, int* tag) {
    MessageChunk* c = loc->chunk;
    if (c != nullptr && loc->offset < c->used && !(hasReturned_ && loc == &readLoc_)) {
      *tag = static_cast<unsigned char>(c->data[loc->offset++]);
      tagSource_ = TagSource::kChunk;
      return 0;
    }
    return readTagSlow(loc, tag);
  }
  [[nodiscard]] int readTagSlow(_BufferLocation* loc, int* tag);
  [[nodiscard]] int skipFast(_BufferLocation* loc);
  [[nodiscard]] int expectTag(_BufferLocation* loc, int want);
  // A `tag` and the 32-bit id after it (container and object headers), or a
  // lone end tag; the error state as the public readers report it.
  int readTaggedId(_BufferLocation* location, int tag, int* id);
  int readEndTag(_BufferLocation* location, int tag);
  [[nodiscard]] int readU32(_BufferLocation* loc, uint32_t* out);
  [[nodiscard]] int readFixed(_BufferLocation* loc, int tag, void* out, size_t n);
  [[nodiscard]] int readStringAt(_BufferLocation* loc, char*& out);
  [[nodiscard]] int readStringArrayAt(_BufferLocation* loc, char**& out);
  [[nodiscard]] int readBytesAt(_BufferLocation* loc, size_t& n, char*& out);
  [[nodiscard]] int skipValue(_BufferLocation* loc, int endError);
  [[nodiscard]] int openField(int field, int occurrence, FieldRef* ref);
  void closeField(const FieldRef& ref);
  [[nodiscard]] int scanNext(Frame& frame);
  [[nodiscard]] int finishFrame(Frame& frame);
  [[nodiscard]] bool findScanned(Frame& frame, unsigned field, int occurrence, size_t* index);
  [[nodiscard]] int readObjectAt(_BufferLocation* loc, int type, Translatable** out, bool warn);
  [[nodiscard]] int readContainerAt(_BufferLocation* loc, int type, Translatable** out, Translatable* into);
  [[nodiscard]] int indexAt(_BufferLocation* loc, int expectType, int* type);
  Frame& pushFrame(bool container, int type, const _BufferLocation& start);
  void popFrame();
  [[nodiscard]] Frame* objectFrame();
  [[nodiscard]] const Frame* objectFrame() const;
  // Deletes an object a translator made but could not finish.
  static void discardObject(Translatable* object);

  int mode_;
  int type_;
  int64_t expectedLength_ = 0;
  int64_t receivedCount_ = 0;
  MessageChunk* first_ = nullptr;
  MessageChunk* last_ = nullptr;
  _BufferLocation readLoc_;
  // frames_[0..depth_) are open; the rest are kept for reuse. A deque, so that
  // a location inside a frame stays put while deeper frames are pushed.
  std::deque<Frame> frames_;
  Frame* top_ = nullptr;          // frames_[depth_ - 1]
  Frame* objectTop_ = nullptr;    // the innermost open object frame
  int depth_ = 0;
  int error_ = 0;
  int writeDepth_ = 0;
  bool directWrite_ = false;
  bool hasReturned_ = false;
  unsigned char returned_ = 0;
  enum class TagSource { kChunk, kReturned, kStore } tagSource_ = TagSource::kChunk;

  friend class Message;
};
