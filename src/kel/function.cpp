#include "kel/function.h"

#include <cstring>

#include "kel/ast/stmt_nodes.h"
#include "kel/int_program.h"

Function::Function() = default;
Function::~Function() = default;

void Function::setBody(std::unique_ptr<StmtListAstNode> body) { body_ = std::move(body); }

std::string Function::text() const { return std::string(displayName()) + " " + location_.text(); }

char* Function::toString(Parser*) { return strdup(text().c_str()); }
