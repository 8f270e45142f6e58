#include "objects/zr_user.h"

#include <cstdlib>

#include "objects/zr_alloc.h"
#include "objects/zr_object.h"

namespace {
zr_user g_anonymous_user{};
}  // namespace

zr_user* ZR_USER_ANONYMOUS = &g_anonymous_user;

void delete_user(zr_user* user) { std::free(user); }

zr_user* zr_user_create(uint32_t id) { return zr_user_create_ext(id, 0, 0); }

zr_user* zr_user_create_ext(uint32_t id, uint16_t year_of_birth, uint32_t gender) {
    auto* user = static_cast<zr_user*>(zr_calloc(1, sizeof(zr_user)));
    if (user == nullptr) return nullptr;
    user->ref_count = 1;
    user->id = id;
    user->year_of_birth = year_of_birth;
    user->gender = gender;
    user->destroy = delete_user;
    return user;
}

zr_user* zr_user_copy(const zr_user* user) {
    if (user == nullptr) return nullptr;
    return zr_user_create_ext(user->id, user->year_of_birth, user->gender);
}

zr_user* zr_user_retain(zr_user* user) { return zr_object_retain_unless_static(user); }

void zr_user_delete(zr_user* user) { zr_object_delete_unless_static(user); }

uint32_t zr_user_get_id(const zr_user* user) { return user ? user->id : 0; }

uint16_t zr_user_get_year_of_birth(const zr_user* user) { return user ? user->year_of_birth : 0; }

uint32_t zr_user_get_gender(const zr_user* user) { return user ? user->gender : 0; }

uint32_t zr_user_is_copy(const zr_user* a, const zr_user* b) {
    return a != nullptr && b != nullptr && a->id == b->id ? 1 : 0;
}
