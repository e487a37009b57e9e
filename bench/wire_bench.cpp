// Encoding and decoding speed of the wire format, side by side with
// MessagePack for C++ on the same data:
//   - an Attributes of 1,000 entries (strings, int32, int64 dates, doubles and
//     nested arrays), and
//   - a DirectoryEnumeration of 1,000 objects (name with two attributes, an
//     Attributes of six entries and an ACL text each).
// MessagePack is measured two ways:
//   - MsgPack: packs the same model objects (every value with its type code,
//     subtype and display hint) and unpacks into the same model objects, so
//     that both codecs do the same work; this is the reference;
//   - MsgPackPlain: the same values from and into plain C++ structures (std::
//     string, std::vector), which shows what the model objects cost.
// Figures: time per operation and MB/s of each side's own encoding (the
// sizes differ; the byte counts are reported).
//
//   build/bin/bench_wire --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#define MSGPACK_NO_BOOST 1
#include <benchmark/benchmark.h>

#include <msgpack.hpp>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/acl.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/dir_name_entry.h"
#include "model/enumerations.h"
#include "wire/message.h"
#include "wire/model_xlators.h"

namespace {

// ---- the MessagePack side: the same values in plain structures ----

struct MpValue {
  int type = ANY_NULL;
  int subtype = 0;
  bool b = false;
  int32_t i32 = 0;
  int64_t i64 = 0;
  double d = 0;
  std::string s;
  std::vector<MpValue> list;
};

struct MpEntry {
  std::string name;
  int hint = 0;
  MpValue value;
};

struct MpNameAttr {
  std::string name;
  bool expression = false;
  MpValue value;
};

struct MpDirEntry {
  std::string name;
  bool nameIsExpression = false;
  std::vector<MpNameAttr> nameAttrs;
  std::vector<MpEntry> attrs;
  std::string acl;
};

template <class S>
void pack(msgpack::packer<S>& p, const MpValue& v) {
  p.pack_array(3);
  p.pack(v.type);
  p.pack(v.subtype);
  switch (v.type) {
    case ANY_BOOL: p.pack(v.b); break;
    case ANY_INT32: p.pack(v.i32); break;
    case ANY_INT64: p.pack(v.i64); break;
    case ANY_DOUBLE: p.pack(v.d); break;
    case ANY_STRING: p.pack(v.s); break;
    case OBJ_ANYARRAY_ID:
      p.pack_array(static_cast<uint32_t>(v.list.size()));
      for (const MpValue& e : v.list) pack(p, e);
      break;
    default: p.pack_nil(); break;
  }
}

template <class S>
void pack(msgpack::packer<S>& p, const std::vector<MpEntry>& attrs) {
  p.pack_array(static_cast<uint32_t>(attrs.size()));
  for (const MpEntry& e : attrs) {
    p.pack_array(3);
    p.pack(e.name);
    p.pack(e.hint);
    pack(p, e.value);
  }
}

template <class S>
void pack(msgpack::packer<S>& p, const std::vector<MpDirEntry>& list) {
  p.pack_array(static_cast<uint32_t>(list.size()));
  for (const MpDirEntry& d : list) {
    p.pack_array(5);
    p.pack(d.name);
    p.pack(d.nameIsExpression);
    p.pack_array(static_cast<uint32_t>(d.nameAttrs.size()));
    for (const MpNameAttr& a : d.nameAttrs) {
      p.pack_array(3);
      p.pack(a.name);
      p.pack(a.expression);
      pack(p, a.value);
    }
    pack(p, d.attrs);
    p.pack(d.acl);
  }
}

const msgpack::object_array& arrayOf(const msgpack::object& o, uint32_t n = 0) {
  if (o.type != msgpack::type::ARRAY || (n != 0 && o.via.array.size != n)) throw msgpack::type_error();
  return o.via.array;
}

MpValue valueOf(const msgpack::object& o) {
  const auto& a = arrayOf(o, 3);
  MpValue v;
  v.type = a.ptr[0].as<int>();
  v.subtype = a.ptr[1].as<int>();
  const msgpack::object& x = a.ptr[2];
  switch (v.type) {
    case ANY_BOOL: v.b = x.as<bool>(); break;
    case ANY_INT32: v.i32 = x.as<int32_t>(); break;
    case ANY_INT64: v.i64 = x.as<int64_t>(); break;
    case ANY_DOUBLE: v.d = x.as<double>(); break;
    case ANY_STRING: v.s = x.as<std::string>(); break;
    case OBJ_ANYARRAY_ID: {
      const auto& l = arrayOf(x);
      v.list.reserve(l.size);
      for (uint32_t i = 0; i < l.size; ++i) v.list.push_back(valueOf(l.ptr[i]));
      break;
    }
    default: break;
  }
  return v;
}

std::vector<MpEntry> attrsOf(const msgpack::object& o) {
  const auto& a = arrayOf(o);
  std::vector<MpEntry> out;
  out.reserve(a.size);
  for (uint32_t i = 0; i < a.size; ++i) {
    const auto& e = arrayOf(a.ptr[i], 3);
    out.push_back({e.ptr[0].as<std::string>(), e.ptr[1].as<int>(), valueOf(e.ptr[2])});
  }
  return out;
}

std::vector<MpDirEntry> dirListOf(const msgpack::object& o) {
  const auto& a = arrayOf(o);
  std::vector<MpDirEntry> out;
  out.reserve(a.size);
  for (uint32_t i = 0; i < a.size; ++i) {
    const auto& d = arrayOf(a.ptr[i], 5);
    MpDirEntry e;
    e.name = d.ptr[0].as<std::string>();
    e.nameIsExpression = d.ptr[1].as<bool>();
    const auto& na = arrayOf(d.ptr[2]);
    for (uint32_t k = 0; k < na.size; ++k) {
      const auto& x = arrayOf(na.ptr[k], 3);
      e.nameAttrs.push_back({x.ptr[0].as<std::string>(), x.ptr[1].as<bool>(), valueOf(x.ptr[2])});
    }
    e.attrs = attrsOf(d.ptr[3]);
    e.acl = d.ptr[4].as<std::string>();
    out.push_back(std::move(e));
  }
  return out;
}

// ---- MessagePack over the model objects ----

template <class S>
void packAny(msgpack::packer<S>& p, const Any* a) {
  if (a == nullptr) {
    p.pack_nil();
    return;
  }
  p.pack_array(3);
  p.pack(a->getType());
  p.pack(a->getSubtype());
  switch (a->getType()) {
    case ANY_BOOL: p.pack(a->getBool()); break;
    case ANY_INT32: p.pack(a->getInt32()); break;
    case ANY_INT64: p.pack(a->getInt64()); break;
    case ANY_FLOAT: p.pack(a->getFloat()); break;
    case ANY_DOUBLE: p.pack(a->getDouble()); break;
    case ANY_STRING:
    case ANY_CHAR:
      if (a->getString() != nullptr) {
        p.pack(a->getString());
      } else {
        p.pack_nil();
      }
      break;
    case OBJ_ANYARRAY_ID: {
      const auto* arr = static_cast<const AnyArray*>(a->getHeldObject());
      p.pack_array(static_cast<uint32_t>(arr->size()));
      for (int i = 0; i < arr->size(); ++i) packAny(p, arr->get(i));
      break;
    }
    default: p.pack_nil(); break;
  }
}

template <class S>
void packAttributes(msgpack::packer<S>& p, const Attributes* set) {
  p.pack_array(static_cast<uint32_t>(set->size()));
  for (const Attributes::AttrList* e = set->first(); e != nullptr; e = e->getNext()) {
    p.pack_array(3);
    p.pack(e->getName());
    p.pack(e->getDisplayHint());
    packAny(p, e->getValue());
  }
}

template <class S>
void packDirList(msgpack::packer<S>& p, const DirectoryEnumeration* list) {
  p.pack_array(static_cast<uint32_t>(list->size()));
  for (const DirectoryEnumeration::EnumEntry* d = list->first(); d != nullptr; d = d->next) {
    p.pack_array(5);
    p.pack(d->name->getName());
    p.pack(d->name->isNameExpression());
    p.pack_array(static_cast<uint32_t>(d->name->getAttributeCount()));
    for (const DirNameEntry::AttrList* a = d->name->firstAttribute(); a != nullptr; a = a->getNext()) {
      p.pack_array(3);
      p.pack(a->getName());
      p.pack(a->isExpression());
      packAny(p, a->getValue());
    }
    packAttributes(p, d->attributes);
    p.pack(d->acl->getText());
  }
}

char* textOf(const msgpack::object& o) {
  if (o.type == msgpack::type::NIL) return nullptr;
  if (o.type != msgpack::type::STR) throw msgpack::type_error();
  return strndup(o.via.str.ptr, o.via.str.size);
}

// A name the model copies anyway: kept on the stack when short, as the wire
// decoder does.
struct NameText {
  char small[256];
  std::string big;
  const char* c = nullptr;
  explicit NameText(const msgpack::object& o) {
    if (o.type == msgpack::type::NIL) return;
    if (o.type != msgpack::type::STR) throw msgpack::type_error();
    if (o.via.str.size < sizeof small) {
      std::memcpy(small, o.via.str.ptr, o.via.str.size);
      small[o.via.str.size] = '\0';
      c = small;
    } else {
      big.assign(o.via.str.ptr, o.via.str.size);
      c = big.c_str();
    }
  }
};

Any* anyOfObject(const msgpack::object& o) {
  if (o.type == msgpack::type::NIL) return nullptr;
  const auto& a = arrayOf(o, 3);
  const int type = a.ptr[0].as<int>();
  const msgpack::object& x = a.ptr[2];
  Any* v;
  switch (type) {
    case ANY_BOOL: v = new Any(x.as<bool>()); break;
    case ANY_INT32: v = new Any(x.as<int>()); break;
    case ANY_INT64: v = new Any(x.as<long long>()); break;
    case ANY_FLOAT: v = new Any(x.as<float>()); break;
    case ANY_DOUBLE: v = new Any(x.as<double>()); break;
    case ANY_STRING: v = Any::buildFromString(textOf(x)); break;
    case ANY_UNDEFINED: v = Any::createUndefined(); break;
    case OBJ_ANYARRAY_ID: {
      const auto& l = arrayOf(x);
      auto* arr = new AnyArray(0);
      for (uint32_t i = 0; i < l.size; ++i) arr->append(anyOfObject(l.ptr[i]));
      v = new Any(OBJ_ANYARRAY_ID, arr);
      break;
    }
    default: v = new Any(); break;
  }
  v->setSubtype(a.ptr[1].as<int>());
  return v;
}

Attributes* attributesOfObject(const msgpack::object& o) {
  const auto& a = arrayOf(o);
  auto* set = new Attributes();
  for (uint32_t i = 0; i < a.size; ++i) {
    const auto& e = arrayOf(a.ptr[i], 3);
    NameText name(e.ptr[0]);
    set->appendAttribute(name.c, anyOfObject(e.ptr[2]), e.ptr[1].as<int>());
  }
  return set;
}

DirectoryEnumeration* dirListOfObject(const msgpack::object& o) {
  const auto& a = arrayOf(o);
  auto* list = new DirectoryEnumeration();
  for (uint32_t i = 0; i < a.size; ++i) {
    const auto& d = arrayOf(a.ptr[i], 5);
    NameText name(d.ptr[0]);
    auto* entry = new DirNameEntry(name.c);
    entry->setNameIsExpression(d.ptr[1].as<bool>());
    const auto& na = arrayOf(d.ptr[2]);
    for (uint32_t k = 0; k < na.size; ++k) {
      const auto& x = arrayOf(na.ptr[k], 3);
      NameText an(x.ptr[0]);
      entry->addAttribute(an.c, anyOfObject(x.ptr[2]), x.ptr[1].as<bool>());
    }
    NameText acl(d.ptr[4]);
    list->append(entry, attributesOfObject(d.ptr[3]), new Acl(acl.c));
  }
  return list;
}

// ---- the data, built once as both kinds ----

// The value of entry i: a string, an int32, an int64 date, a double or an
// array holding an int32, a string, a double and an array of two int64s.
MpValue mpValue(int i) {
  MpValue v;
  char text[64];
  switch (i % 5) {
    case 0:
      std::snprintf(text, sizeof text, "value of attribute number %d, a text", i);
      v.type = ANY_STRING;
      v.subtype = ANY_SUBTYPE_PLAIN_STRING;
      v.s = text;
      break;
    case 1: v.type = ANY_INT32; v.i32 = i * 7919; break;
    case 2:
      v.type = ANY_INT64;
      v.subtype = ANY_SUBTYPE_DATE;
      v.i64 = 1700000000000LL + i;
      break;
    case 3: v.type = ANY_DOUBLE; v.d = i * 0.125 + 1e-3; break;
    default: {
      v.type = OBJ_ANYARRAY_ID;
      MpValue a, b, c, inner, x, y;
      a.type = ANY_INT32;
      a.i32 = i;
      b.type = ANY_STRING;
      b.subtype = ANY_SUBTYPE_PLAIN_STRING;
      b.s = "element";
      c.type = ANY_DOUBLE;
      c.d = i / 3.0;
      x.type = y.type = ANY_INT64;
      x.i64 = -i;
      y.i64 = 1LL << 40;
      inner.type = OBJ_ANYARRAY_ID;
      inner.list = {x, y};
      v.list = {a, b, c, inner};
      break;
    }
  }
  return v;
}

Any* anyOf(const MpValue& v) {
  Any* a;
  switch (v.type) {
    case ANY_BOOL: a = new Any(v.b); break;
    case ANY_INT32: a = new Any(static_cast<int>(v.i32)); break;
    case ANY_INT64: a = new Any(static_cast<long long>(v.i64)); break;
    case ANY_DOUBLE: a = new Any(v.d); break;
    case ANY_STRING: a = new Any(v.s.c_str()); break;
    case OBJ_ANYARRAY_ID: {
      auto* arr = new AnyArray(0);
      for (const MpValue& e : v.list) arr->append(anyOf(e));
      a = new Any(OBJ_ANYARRAY_ID, arr);
      break;
    }
    default: a = new Any(); break;
  }
  a->setSubtype(v.subtype);
  return a;
}

std::vector<MpEntry> mpAttributes(int n, int seed) {
  std::vector<MpEntry> out;
  char name[32];
  for (int i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, "attribute_%04d", i);
    out.push_back({name, (i + seed) % 3, mpValue(i + seed)});
  }
  return out;
}

Attributes* attributesOf(const std::vector<MpEntry>& entries) {
  auto* set = new Attributes();
  for (const MpEntry& e : entries) set->appendAttribute(e.name.c_str(), anyOf(e.value), e.hint);
  return set;
}

std::vector<MpDirEntry> mpDirList(int n) {
  std::vector<MpDirEntry> out;
  char text[64];
  for (int i = 0; i < n; ++i) {
    MpDirEntry d;
    d.name = "host";
    std::snprintf(text, sizeof text, "server-%04d.example.net", i);
    MpValue host, port;
    host.type = port.type = ANY_STRING;
    host.subtype = port.subtype = ANY_SUBTYPE_PLAIN_STRING;
    host.s = text;
    port.s = "8443";
    d.nameAttrs = {{"name", false, host}, {"port", false, port}};
    d.attrs = mpAttributes(6, i);
    std::snprintf(text, sizeof text, "1`admin%d`ops``` A,everyone@builtin/G,read,list", i % 7);
    d.acl = text;
    out.push_back(std::move(d));
  }
  return out;
}

DirectoryEnumeration* dirListOf(const std::vector<MpDirEntry>& list) {
  auto* e = new DirectoryEnumeration();
  for (const MpDirEntry& d : list) {
    auto* name = new DirNameEntry(d.name.c_str());
    for (const MpNameAttr& a : d.nameAttrs) name->addAttribute(a.name.c_str(), anyOf(a.value), a.expression);
    e->append(name, attributesOf(d.attrs), new Acl(d.acl.c_str()));
  }
  return e;
}

struct Data {
  std::vector<MpEntry> mpAttrs = mpAttributes(1000, 0);
  std::vector<MpDirEntry> mpDir = mpDirList(1000);
  std::unique_ptr<Attributes> attrs{attributesOf(mpAttrs)};
  std::unique_ptr<DirectoryEnumeration> dir{dirListOf(mpDir)};
  std::string orvAttrs, orvDir;
  msgpack::sbuffer packAttrs, packDir;

  static std::string encode(int type, const Translatable* object) {
    Message m(0);
    if (m.writeObject(type, object) != 0) std::abort();
    std::string out;
    for (const MessageChunk* c = m.firstChunk(); c != nullptr; c = c->next) out.append(c->data, c->used);
    return out.substr(Message::kHeaderSize);
  }

  Data() {
    registerModelXlators();
    orvAttrs = encode(OBJ_ATTRIBUTES_ID, attrs.get());
    orvDir = encode(OBJ_DIRECTORYENUMERATION_ID, dir.get());
    msgpack::packer<msgpack::sbuffer> pa(packAttrs);
    pack(pa, mpAttrs);
    msgpack::packer<msgpack::sbuffer> pd(packDir);
    pack(pd, mpDir);
    // The two MessagePack forms produce the same bytes.
    msgpack::sbuffer a, d;
    msgpack::packer<msgpack::sbuffer> qa(a), qd(d);
    packAttributes(qa, attrs.get());
    packDirList(qd, dir.get());
    if (a.size() != packAttrs.size() || std::memcmp(a.data(), packAttrs.data(), a.size()) != 0 ||
        d.size() != packDir.size() || std::memcmp(d.data(), packDir.data(), d.size()) != 0) {
      std::fprintf(stderr, "bench_wire: the MessagePack forms differ\n");
      std::abort();
    }
  }
};

Data& data() {
  static Data d;
  return d;
}

void report(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["encoded_bytes"] = static_cast<double>(bytes);
}

// ---- the benchmarks ----

void orvEncode(benchmark::State& state, int type, const Translatable* object, size_t bytes) {
  for (auto _ : state) {
    Message m(0);
    if (m.writeObject(type, object) != 0) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(m.size());
  }
  report(state, bytes);
}

void orvDecode(benchmark::State& state, int type, const std::string& bytes) {
  for (auto _ : state) {
    // As a received message is read: in place, without copying it.
    Message m(bytes.data(), bytes.size(), true);
    Translatable* object = nullptr;
    if (m.readObject(type, &object) != 0 || object == nullptr) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(object);
    delete object;
  }
  report(state, bytes.size());
}

void BM_Attributes1000_Encode_Orv(benchmark::State& state) {
  orvEncode(state, OBJ_ATTRIBUTES_ID, data().attrs.get(), data().orvAttrs.size());
}

void BM_Attributes1000_Encode_MsgPackPlain(benchmark::State& state) {
  for (auto _ : state) {
    msgpack::sbuffer buf;
    msgpack::packer<msgpack::sbuffer> p(buf);
    pack(p, data().mpAttrs);
    benchmark::DoNotOptimize(buf.size());
  }
  report(state, data().packAttrs.size());
}

void BM_Attributes1000_Decode_Orv(benchmark::State& state) {
  orvDecode(state, OBJ_ATTRIBUTES_ID, data().orvAttrs);
}

void BM_Attributes1000_Decode_MsgPackPlain(benchmark::State& state) {
  const msgpack::sbuffer& b = data().packAttrs;
  for (auto _ : state) {
    msgpack::object_handle h = msgpack::unpack(b.data(), b.size());
    std::vector<MpEntry> v = attrsOf(h.get());
    benchmark::DoNotOptimize(v.data());
  }
  report(state, b.size());
}

void BM_DirEnum1000_Encode_Orv(benchmark::State& state) {
  orvEncode(state, OBJ_DIRECTORYENUMERATION_ID, data().dir.get(), data().orvDir.size());
}

void BM_DirEnum1000_Encode_MsgPackPlain(benchmark::State& state) {
  for (auto _ : state) {
    msgpack::sbuffer buf;
    msgpack::packer<msgpack::sbuffer> p(buf);
    pack(p, data().mpDir);
    benchmark::DoNotOptimize(buf.size());
  }
  report(state, data().packDir.size());
}

void BM_DirEnum1000_Decode_Orv(benchmark::State& state) {
  orvDecode(state, OBJ_DIRECTORYENUMERATION_ID, data().orvDir);
}

void BM_DirEnum1000_Decode_MsgPackPlain(benchmark::State& state) {
  const msgpack::sbuffer& b = data().packDir;
  for (auto _ : state) {
    msgpack::object_handle h = msgpack::unpack(b.data(), b.size());
    std::vector<MpDirEntry> v = dirListOf(h.get());
    benchmark::DoNotOptimize(v.data());
  }
  report(state, b.size());
}

void BM_Attributes1000_Encode_MsgPack(benchmark::State& state) {
  for (auto _ : state) {
    msgpack::sbuffer buf;
    msgpack::packer<msgpack::sbuffer> p(buf);
    packAttributes(p, data().attrs.get());
    benchmark::DoNotOptimize(buf.size());
  }
  report(state, data().packAttrs.size());
}

void BM_Attributes1000_Decode_MsgPack(benchmark::State& state) {
  const msgpack::sbuffer& b = data().packAttrs;
  for (auto _ : state) {
    msgpack::object_handle h = msgpack::unpack(b.data(), b.size());
    std::unique_ptr<Attributes> set(attributesOfObject(h.get()));
    benchmark::DoNotOptimize(set.get());
  }
  report(state, b.size());
}

void BM_DirEnum1000_Encode_MsgPack(benchmark::State& state) {
  for (auto _ : state) {
    msgpack::sbuffer buf;
    msgpack::packer<msgpack::sbuffer> p(buf);
    packDirList(p, data().dir.get());
    benchmark::DoNotOptimize(buf.size());
  }
  report(state, data().packDir.size());
}

void BM_DirEnum1000_Decode_MsgPack(benchmark::State& state) {
  const msgpack::sbuffer& b = data().packDir;
  for (auto _ : state) {
    msgpack::object_handle h = msgpack::unpack(b.data(), b.size());
    std::unique_ptr<DirectoryEnumeration> list(dirListOfObject(h.get()));
    benchmark::DoNotOptimize(list.get());
  }
  report(state, b.size());
}

BENCHMARK(BM_Attributes1000_Encode_Orv);
BENCHMARK(BM_Attributes1000_Encode_MsgPack);
BENCHMARK(BM_Attributes1000_Encode_MsgPackPlain);
BENCHMARK(BM_Attributes1000_Decode_Orv);
BENCHMARK(BM_Attributes1000_Decode_MsgPack);
BENCHMARK(BM_Attributes1000_Decode_MsgPackPlain);
BENCHMARK(BM_DirEnum1000_Encode_Orv);
BENCHMARK(BM_DirEnum1000_Encode_MsgPack);
BENCHMARK(BM_DirEnum1000_Encode_MsgPackPlain);
BENCHMARK(BM_DirEnum1000_Decode_Orv);
BENCHMARK(BM_DirEnum1000_Decode_MsgPack);
BENCHMARK(BM_DirEnum1000_Decode_MsgPackPlain);

}  // namespace

int main(int argc, char** argv) {
  // Both sides allocate and free hundreds of kilobytes per operation; keep
  // the allocator from handing them back to the system (and faulting them in
  // again) between iterations, which would measure the kernel, not the codecs.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
