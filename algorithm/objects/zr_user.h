// Users: whose finger a template belongs to. ZR_USER_ANONYMOUS is a static,
// uncounted user with every field 0.
#pragma once

#include <cstdint>

struct zr_user {
    uint32_t ref_count;
    uint32_t id;
    uint16_t year_of_birth;
    uint32_t gender;
    void (*destroy)(zr_user*);  // delete_user; none for a static user
};

// The process-lifetime anonymous user.
extern zr_user* ZR_USER_ANONYMOUS;

// New counted user (year of birth and gender 0); none when out of memory.
zr_user* zr_user_create(uint32_t id);
zr_user* zr_user_create_ext(uint32_t id, uint16_t year_of_birth, uint32_t gender);
// Counted copy of any user, the static one included; none for none or when
// out of memory.
zr_user* zr_user_copy(const zr_user* user);
zr_user* zr_user_retain(zr_user* user);
void zr_user_delete(zr_user* user);

// The fields; 0 for a missing user.
uint32_t zr_user_get_id(const zr_user* user);
uint16_t zr_user_get_year_of_birth(const zr_user* user);
uint32_t zr_user_get_gender(const zr_user* user);
// 1 when both exist and their ids are equal.
uint32_t zr_user_is_copy(const zr_user* a, const zr_user* b);

void delete_user(zr_user* user);
