// Hand-built compact cards for the linked-cluster matcher tests and benchmarks.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace lc_test {

using bytes = std::vector<uint8_t>;

// A card minutia: 0.1 mm coordinates and a 6-bit angle (64ths of a turn).
struct CardMinutia {
    int x;
    int y;
    int angle;
};

enum class CardForm {
    body_2005,  // 7F2E { A1 { 90 } }
    plain_2011, // 7F2E { 81 }
    body_2011,  // 7F2E { A1 { 81 } }
    plain_2005, // 7F2E { 90 }
};

inline void append_length(bytes* out, size_t length) {
    if (length < 128) {
        out->push_back(uint8_t(length));
    } else if (length < 256) {
        out->push_back(0x81);
        out->push_back(uint8_t(length));
    } else {
        out->push_back(0x82);
        out->push_back(uint8_t(length >> 8));
        out->push_back(uint8_t(length));
    }
}

inline bytes element(std::initializer_list<uint8_t> tag, const bytes& value) {
    bytes out(tag);
    append_length(&out, value.size());
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

inline bytes concat(const bytes& a, const bytes& b) {
    bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

inline bytes minutiae_bytes(const std::vector<CardMinutia>& minutiae) {
    bytes out;
    for (const CardMinutia& m : minutiae) {
        out.push_back(uint8_t(m.x));
        out.push_back(uint8_t(m.y));
        out.push_back(uint8_t(0x40 | (m.angle & 63)));  // ridge ending
    }
    return out;
}

// A card; with qualities, a proprietary part (magic and one byte a minutia).
inline bytes make_card(const std::vector<CardMinutia>& minutiae, CardForm form = CardForm::body_2005,
                       const std::optional<bytes>& qualities = std::nullopt) {
    const bytes data = minutiae_bytes(minutiae);
    bytes part;
    switch (form) {
        case CardForm::body_2005: part = element({0xA1}, element({0x90}, data)); break;
        case CardForm::plain_2011: part = element({0x81}, data); break;
        case CardForm::body_2011: part = element({0xA1}, element({0x81}, data)); break;
        case CardForm::plain_2005: part = element({0x90}, data); break;
    }
    if (qualities) {
        bytes proprietary = {0x98, 0xEC, 0x15, 0xE1};
        proprietary.insert(proprietary.end(), qualities->begin(), qualities->end());
        part = concat(part, element({0x82}, proprietary));
    }
    return element({0x7F, 0x2E}, part);
}

// count minutiae at least min_gap apart inside [lo, hi]^2, random angles.
inline std::vector<CardMinutia> spread_minutiae(int count, uint32_t seed, int lo = 50, int hi = 205,
                                                int min_gap = 14) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> coordinate(lo, hi);
    std::uniform_int_distribution<int> angle(0, 63);
    std::vector<CardMinutia> out;
    while (int(out.size()) < count) {
        const CardMinutia m{coordinate(rng), coordinate(rng), angle(rng)};
        bool clear = true;
        for (const CardMinutia& o : out) {
            if ((m.x - o.x) * (m.x - o.x) + (m.y - o.y) * (m.y - o.y) < min_gap * min_gap) clear = false;
        }
        if (clear) out.push_back(m);
    }
    return out;
}

inline std::vector<CardMinutia> shifted(std::vector<CardMinutia> minutiae, int dx, int dy) {
    for (CardMinutia& m : minutiae) {
        m.x += dx;
        m.y += dy;
    }
    return minutiae;
}

// A quarter turn about (c, c) in the card's frame (y down, angles counter-
// clockwise): (x, y) -> (c + (y - c), c - (x - c)), angle + 16.
inline std::vector<CardMinutia> quarter_turned(std::vector<CardMinutia> minutiae, int c = 128) {
    for (CardMinutia& m : minutiae) {
        const int x = m.x;
        m.x = c + (m.y - c);
        m.y = c - (x - c);
        m.angle = (m.angle + 16) & 63;
    }
    return minutiae;
}

// The 32-minutia dummy template as a card.
inline bytes dummy_card() {
    const bytes data = {
        0x4c, 0x4c, 0x30, 0x4e, 0x4d, 0x2b, 0x4e, 0x50, 0x25, 0x4c, 0x52, 0x20, 0x48, 0x53, 0x1b, 0x43,
        0x51, 0x15, 0x40, 0x4c, 0x10, 0x40, 0x45, 0x0b, 0x44, 0x3e, 0x05, 0x4c, 0x3a, 0x00, 0x56, 0x3b,
        0x3b, 0x5f, 0x41, 0x35, 0x65, 0x4c, 0x30, 0x63, 0x59, 0x2b, 0x5a, 0x65, 0x25, 0x4c, 0x6b, 0x20,
        0x3c, 0x68, 0x1b, 0x2e, 0x5d, 0x15, 0x28, 0x4c, 0x10, 0x2b, 0x39, 0x0b, 0x38, 0x29, 0x05, 0x4c,
        0x22, 0x00, 0x62, 0x25, 0x3b, 0x75, 0x35, 0x35, 0x7d, 0x4c, 0x30, 0x78, 0x66, 0x2b, 0x67, 0x7a,
        0x25, 0x4c, 0x83, 0x20, 0x30, 0x7d, 0x1b, 0x19, 0x6a, 0x15, 0x0f, 0x4c, 0x10, 0x16, 0x2d, 0x0b,
    };
    return element({0x7F, 0x2E}, element({0xA1}, element({0x90}, data)));
}

}  // namespace lc_test
