#include "model/expect_list.h"

#include <cstdlib>

#include "model/string_builder.h"
#include "model/text_util.h"

ExpectEntry::ExpectEntry(const char* expect, const char* send, bool isRegex, const char* actual)
    : expect_(modeltext::dup(expect)), send_(modeltext::dup(send)), isRegex_(isRegex), actual_(modeltext::dup(actual)) {}

ExpectEntry::ExpectEntry(const ExpectEntry& other)
    : Translatable(),
      expect_(modeltext::dup(other.expect_)),
      send_(modeltext::dup(other.send_)),
      isRegex_(other.isRegex_),
      actual_(modeltext::dup(other.actual_)) {}

ExpectEntry::~ExpectEntry() {
  free(expect_);
  free(send_);
  free(actual_);
}

void ExpectEntry::setActual(const char* actual) {
  free(actual_);
  actual_ = modeltext::dup(actual);
}

namespace {
void member(StringBuilder& out, const char* key, const char* text) {
  out.append('"');
  out.append(key);
  out.append("\" : ");
  if (!text) {
    out.append("null");
    return;
  }
  out.append('"');
  out.append(text);
  out.append('"');
}
}  // namespace

char* ExpectEntry::toString(Parser*) {
  StringBuilder out;
  out.append("{ ");
  member(out, "send", send_);
  out.append(isRegex_ ? ", \"isRegex\" : true, " : ", \"isRegex\" : false, ");
  member(out, "actual", actual_);
  out.append(" }");
  return out.take();
}

int ExpectEntry::clone(const Principal*, Translatable** out) const {
  *out = new ExpectEntry(*this);
  return 0;
}

ExpectList::ExpectList(const ExpectList& other) : Translatable() {
  for (Node* n = other.head_; n; n = n->next) append(n->entry ? new ExpectEntry(*n->entry) : nullptr);
}

ExpectList::~ExpectList() {
  Node* n = head_;
  while (n) {
    Node* next = n->next;
    delete n->entry;
    delete n;
    n = next;
  }
}

void ExpectList::append(ExpectEntry* entry) {
  auto* n = new Node{entry, nullptr};
  if (tail_) tail_->next = n;
  else head_ = n;
  tail_ = n;
  count_++;
}

ExpectEntry* ExpectList::get(int i) const {
  if (i < 0 || i >= count_) return nullptr;
  Node* n = head_;
  while (i-- > 0) n = n->next;
  return n->entry;
}

char* ExpectList::toString(Parser* parser) {
  StringBuilder out;
  out.append("[ ");
  for (Node* n = head_; n; n = n->next) {
    out.append(", ");
    char* entry = n->entry ? n->entry->toString(parser) : nullptr;
    out.append(entry ? entry : "null");
    free(entry);
  }
  out.append(" ]");
  return out.take();
}

int ExpectList::clone(const Principal*, Translatable** out) const {
  *out = new ExpectList(*this);
  return 0;
}
