// Helpers shared by the parser's grammar files. Internal to the parser.
#pragma once

#include "kel/parser.h"

// Counts the parser's recursion; past the bound the parse fails with a
// syntax error instead of running out of stack.
class Parser::DepthGuard {
 public:
  explicit DepthGuard(Parser* parser) : parser_(parser) {
    if (++parser_->depth_ > kMaxNesting) parser_->fail(kNestingMessage);
  }
  ~DepthGuard() { --parser_->depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  Parser* parser_;
};

// Refuses a node whose tree is higher than the bound.
template <class Node>
std::unique_ptr<Node> Parser::checked(std::unique_ptr<Node> node) {
  if (node && node->height() > kMaxTreeHeight) fail(kNestingMessage);
  return node;
}

template <class Body>
bool Parser::guarded(Body body) {
  try {
    body();
  } catch (const Abort&) {
    depth_ = 0;
  }
  return !errorFlag_;
}

template <class Node, class... Args>
std::unique_ptr<Node> Parser::make(Pos at, Args&&... args) {
  return checked(std::make_unique<Node>(locate(at), std::forward<Args>(args)...));
}
