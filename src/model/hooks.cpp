// Storage of the hook tables through which the data model reaches the layers
// above it (the kel parser, the wire encoding).
#include "model/object_codec.h"
#include "model/script_hooks.h"

namespace {
ScriptHooks g_scriptHooks;
ObjectCodec g_objectCodec;
}  // namespace

void setScriptHooks(const ScriptHooks& hooks) { g_scriptHooks = hooks; }
const ScriptHooks& scriptHooks() { return g_scriptHooks; }

void setObjectCodec(const ObjectCodec& codec) { g_objectCodec = codec; }
const ObjectCodec& objectCodec() { return g_objectCodec; }
