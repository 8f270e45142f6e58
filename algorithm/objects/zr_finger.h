// Fingers: a finger position of a user. ZR_FINGER_ANONYMOUS is a static,
// uncounted finger with every field 0.
#pragma once

#include <cstdint>

#include "objects/zr_user.h"

struct zr_finger {
    uint32_t ref_count;
    uint32_t position;
    zr_user* user;  // none stands for ZR_USER_ANONYMOUS; a counted user is held
    uint32_t acquisition;
    void (*destroy)(zr_finger*);  // none for a static finger
};

// The process-lifetime anonymous finger.
extern zr_finger* ZR_FINGER_ANONYMOUS;

zr_finger* zr_finger_retain(zr_finger* finger);
void zr_finger_delete(zr_finger* finger);
