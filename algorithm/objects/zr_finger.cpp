#include "objects/zr_finger.h"

#include "objects/zr_object.h"

namespace {
zr_finger g_anonymous_finger{};
}  // namespace

zr_finger* ZR_FINGER_ANONYMOUS = &g_anonymous_finger;

zr_finger* zr_finger_retain(zr_finger* finger) { return zr_object_retain_unless_static(finger); }

void zr_finger_delete(zr_finger* finger) { zr_object_delete_unless_static(finger); }
