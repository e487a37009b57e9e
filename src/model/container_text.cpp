#include "model/container_text.h"

#include "model/script_hooks.h"

namespace {
void indent(StringBuilder& out, int depth) {
  for (int i = 0; i < depth; i++) out.append("    ", 4);
}
}  // namespace

ContainerText::ContainerText(Parser* parser, char open, char close)
    : ContainerText(parser, open, close, nullptr) {}

ContainerText::ContainerText(Parser* parser, char open, char close, StringBuilder* into)
    : parser_(parser), close_(close), out_(into ? *into : own_), external_(into != nullptr) {
  const ScriptHooks& hooks = scriptHooks();
  if (parser_) {
    pretty_ = hooks.isPrettyPrint && hooks.isPrettyPrint(parser_);
    if (hooks.adjustIndent) {
      depth_ = hooks.adjustIndent(parser_, 1);
      depthRaised_ = true;
    }
  }
  out_.append(open);
  out_.append(pretty_ ? '\n' : ' ');
}

ContainerText::~ContainerText() {
  // A rendering abandoned half-way still gives the parser its depth back.
  if (depthRaised_) scriptHooks().adjustIndent(parser_, -1);
}

StringBuilder& ContainerText::beginItem() {
  if (items_++ > 0) out_.append(pretty_ ? ", \n" : ", ");
  if (pretty_) indent(out_, depth_);
  return out_;
}

void ContainerText::item(const char* text) { beginItem().append(text ? text : "null"); }

char* ContainerText::finish() {
  int depth = depth_;
  if (depthRaised_) {
    depth = scriptHooks().adjustIndent(parser_, -1);
    depthRaised_ = false;
  }
  if (pretty_) {
    if (items_ > 0) out_.append('\n');
    indent(out_, depth);
    out_.append(close_);
  } else {
    out_.append(' ');
    out_.append(close_);
  }
  return external_ ? nullptr : out_.take();
}
