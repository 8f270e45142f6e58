#include "objects/zr_user.h"

#include "objects/zr_object.h"

namespace {
zr_user g_anonymous_user{};
}  // namespace

zr_user* ZR_USER_ANONYMOUS = &g_anonymous_user;

zr_user* zr_user_retain(zr_user* user) { return zr_object_retain_unless_static(user); }

void zr_user_delete(zr_user* user) { zr_object_delete_unless_static(user); }
