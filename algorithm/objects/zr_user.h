// Users: whose finger a template belongs to. ZR_USER_ANONYMOUS is a static,
// uncounted user with every field 0.
#pragma once

#include <cstdint>

struct zr_user {
    uint32_t ref_count;
    uint32_t id;
    uint16_t year_of_birth;
    uint32_t gender;
    void (*destroy)(zr_user*);  // none for a static user
};

// The process-lifetime anonymous user.
extern zr_user* ZR_USER_ANONYMOUS;

zr_user* zr_user_retain(zr_user* user);
void zr_user_delete(zr_user* user);
