#include "kel/ast/ast_node.h"

#include <cstdio>

#include "kel/ast/stmt_nodes.h"

StmtAstNode::StmtAstNode(const Location& location) : AstNode(location) {}
StmtAstNode::~StmtAstNode() = default;

int StmtAstNode::execute(Parser*) const { return 0; }

void StmtAstNode::setLeadingOutput(std::unique_ptr<OutputStmt> output) {
  raiseHeight(output.get());
  leading_ = std::move(output);
}

void StmtAstNode::newLine(std::string& out, int indent) {
  if (!out.empty()) out += '\n';
  out.append(static_cast<size_t>(indent) * 2, ' ');
}

void StmtAstNode::dumpLeading(std::string& out, int indent) const {
  if (!leading_) return;
  newLine(out, indent);
  out += "(Leading ";
  dumpQuoted(leading_->text(), out);
  out += ')';
}

void dumpExpr(const ExprAstNode* node, std::string& out, int indent) {
  if (node == nullptr) {
    out += '-';
  } else {
    node->dump(out, indent);
  }
}

void dumpQuoted(const std::string& text, std::string& out) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}
