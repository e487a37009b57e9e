#include "wire/principal_xlator.h"

#include <memory>

#include "model/principal.h"
#include "wire/message_base.h"

int PrincipalXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* p = static_cast<const Principal*>(*object);
    m->writeStringField(1, p->getEncoded());
    m->writeStringField(2, p->getDomain());
    m->writeInt64Field(3, p->getSessionId());
    m->writeStringField(4, p->getSignature());
    return m->getError() != 0 ? -1 : 0;
  }
  char* encoded = nullptr;
  char* domain = nullptr;
  char* signature = nullptr;
  long long session = 0;
  int rc = 0;
  if (m->readStringField(1, encoded) != 0 || m->readStringField(2, domain) != 0 ||
      m->readInt64Field(3, session) != 0) {
    rc = -1;
  } else if (m->hasField(4) && m->readStringField(4, signature) != 0) {
    rc = -1;
  } else if (m->getError() == 0) {
    // An absent (or null) signature is "PV", which the principal fills in.
    *object = new Principal(encoded, domain, signature, session);
  } else {
    rc = -1;
  }
  MessageBase::freeString(encoded);
  MessageBase::freeString(domain);
  MessageBase::freeString(signature);
  return rc;
}
