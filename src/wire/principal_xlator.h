// The translator of `Principal` (object ids 7 and 97): the identity sent with
// every directory request. Stateless.
#pragma once

class MessageBase;
class Translatable;

// Fields: 1 string encoded text, 2 string domain, 3 int64 session id,
// 4 string signature (absent on decoding: "PV").
int PrincipalXlator(MessageBase* message, Translatable** object, int direction);
