// The decode list: which Java class stands for a native object id, used when
// a native object is copied into Java by reflection. A process-wide singly
// linked list; new registrations go to the head, so the newest registration
// of an id is found first. Entries are never removed. Pushing is atomic, and
// readers walk the list without a lock.
#pragma once

#include <jni.h>

// Adds (objectId, a new global reference to `cls`) at the head.
void addDecodeListEntry(JNIEnv* env, int objectId, jclass cls);

// The class of the newest entry for `objectId` (a global reference owned by
// the list), or null.
[[nodiscard]] jclass findDecodeListClass(int objectId);
