// Minutiae detection on a one-pixel skeleton: junctions of the skeleton
// become minutiae (on the valley skeleton they are ridge endings, on the
// ridge skeleton bifurcations), with their legs traced to measure direction
// and quality and to discard spurs and short branches.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"

// Directions of a step between neighbouring pixels.
enum bal_leg_direction : uint8_t {
    BAL_LEG_NONE = 0,
    BAL_LEG_UP = 1,
    BAL_LEG_DOWN = 2,
    BAL_LEG_LEFT = 3,
    BAL_LEG_RIGHT = 4,
    BAL_LEG_UP_LEFT = 5,
    BAL_LEG_UP_RIGHT = 6,
    BAL_LEG_DOWN_LEFT = 7,
    BAL_LEG_DOWN_RIGHT = 8,
};

// A pixel position with the direction in which it was reached.
struct bal_leg_step {
    int32_t row;
    int32_t col;
    bal_leg_direction direction;
};

// The skeleton neighbours of (row, col) (skeleton pixels are 0) in the order
// up-left, up, up-right, left, right, down-left, down, down-right, each with
// its direction; positions outside the image count as background. Writes at
// most 8 legs and returns their number.
uint32_t bal_find_bifurcation_legs(const uint8_t* skeleton, uint32_t rows, uint32_t cols,
                                   int32_t row, int32_t col, bal_leg_step legs[8]);

// One step of a trace from `from`: the first skeleton pixel among the
// neighbours that the direction allows (straight ahead first, then the
// sides). Returns the step, or direction BAL_LEG_NONE when there is none.
bal_leg_step bal_find_next_leg_direction(const uint8_t* skeleton, uint32_t rows, uint32_t cols,
                                         bal_leg_step from);

// Detects the minutiae of one skeleton (rows x cols bytes, skeleton pixels
// 0; deleted pixels become 1) and appends them with the given type to
// list[count..254]. neighbour_map (rows x cols) receives the skeleton's
// neighbour counts (0 off the skeleton) and stays consistent with the
// deletions. orientation is the pixel orientation image (64..191) against
// which spurs are judged (scale 1 only), quality the pixel quality image.
// scale is 1 at 500 dpi and 2 at 250 dpi; lengths are measured in 500 dpi
// pixels. Returns the new count (at most 255); a scale of 0 or a size below
// 3 x 3 returns count unchanged.
uint32_t bal_extract_bifurcations(uint8_t* skeleton, const uint8_t* orientation, uint32_t rows,
                                  uint32_t cols, uint8_t type, const uint8_t* quality,
                                  minutia* list, uint32_t count, uint8_t* neighbour_map,
                                  uint32_t scale);
