// Contour-based thinning: trace every object contour into chain codes, judge
// each contour pixel by a table lookup on its 8-neighbourhood, put back the
// pixels whose removal would cut a line, and repeat until nothing is deleted.
#include "imaging/bal_thin.h"

#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_status.h"

namespace {

constexpr uint8_t kBackground = 1;
constexpr uint8_t kObject = 0;
constexpr uint8_t kTraced = 2;

// Chain code of the null move that opens every contour.
constexpr uint8_t kNoMove = 5;

// The eight neighbours in clockwise order, starting upper-left.
constexpr std::array<int32_t, 8> kRingDr = {-1, -1, -1, 0, 1, 1, 1, 0};
constexpr std::array<int32_t, 8> kRingDc = {-1, 0, 1, 1, 1, 0, -1, -1};
// Tracer state (direction bit set: 1 up, 2 down, 4 left, 8 right) of each move.
constexpr std::array<uint8_t, 8> kRingState = {5, 1, 9, 8, 10, 2, 6, 4};
// Chain code (dr + 1) + 4 * (dc + 1) of each move.
constexpr std::array<uint8_t, 8> kRingCode = {0, 4, 8, 9, 10, 6, 2, 1};

// First neighbour tested after a move in the given state: the direction of the
// move turned 45 degrees anticlockwise after a straight move, 90 degrees after
// a diagonal one. 0xFF for values that are not states.
constexpr std::array<uint8_t, 11> kFirstRingIndex = {0xFF, 0, 4, 0xFF, 6, 6, 4, 0xFF, 2, 0, 2};

constexpr bool is_diagonal_state(uint32_t state) { return state == 5 || state == 6 || state == 9 || state == 10; }

template <size_t N>
constexpr std::array<uint8_t, 256> pattern_table(const uint8_t (&patterns)[N]) {
    std::array<uint8_t, 256> table{};
    for (uint8_t p : patterns) table[p] = 1;
    return table;
}

// Contour pixels whose neighbourhood pattern marks them for deletion.
constexpr uint8_t kDeletionPatterns[] = {
    7,   10,  11,  14,  15,  18,  19,  22,  23,  26,  30,  31,  41,  42,  43,  46,  47,
    58,  63,  72,  73,  74,  78,  80,  82,  83,  84,  88,  89,  90,  92,  93,  104, 105,
    107, 111, 112, 114, 115, 116, 146, 147, 148, 150, 151, 154, 159, 186, 200, 201, 202,
    206, 208, 212, 214, 215, 224, 232, 233, 235, 240, 244, 246, 248, 249, 252};
// Deleted pixels that go back: exactly two object neighbours, three places
// apart on the neighbour ring or straight opposite each other.
constexpr uint8_t kRestorationPatterns[] = {12, 17, 24, 34, 48, 65, 66, 68, 130, 136};

constexpr std::array<uint8_t, 256> kDeletionTable = pattern_table(kDeletionPatterns);
constexpr std::array<uint8_t, 256> kRestorationTable = pattern_table(kRestorationPatterns);

static_assert(sizeof(kDeletionPatterns) == 66);

inline bool is_object(uint8_t v) { return v != kBackground; }

// The image as the interface passes it: one pointer a row.
struct RowPointerImage {
    uint8_t* const* rows;
    uint8_t& at(uint32_t row, uint32_t col) const { return rows[row][col]; }
    // Searches the ring from `first` for `tests` neighbours.
    int32_t first_object_neighbour(uint32_t row, uint32_t col, uint32_t first, uint32_t tests) const {
        for (uint32_t i = 0; i < tests; ++i) {
            const uint32_t k = (first + i) & 7;
            if (is_object(rows[row + kRingDr[k]][col + kRingDc[k]])) return static_cast<int32_t>(k);
        }
        return -1;
    }
    void rows_around(uint32_t row, uint32_t col, const uint8_t*& up, const uint8_t*& mid, const uint8_t*& down) const {
        up = rows[row - 1] + col;
        mid = rows[row] + col;
        down = rows[row + 1] + col;
    }
};

// The working copy of the thinning: one contiguous buffer.
struct FlatImage {
    uint8_t* pixels;
    size_t cols;
    std::array<ptrdiff_t, 8> ring_offset;  // of each ring neighbour

    FlatImage(uint8_t* p, size_t c) : pixels(p), cols(c) {
        for (size_t k = 0; k < 8; ++k)
            ring_offset[k] = kRingDr[k] * static_cast<ptrdiff_t>(c) + kRingDc[k];
    }
    uint8_t& at(uint32_t row, uint32_t col) const { return pixels[row * cols + col]; }
    int32_t first_object_neighbour(uint32_t row, uint32_t col, uint32_t first, uint32_t tests) const {
        const uint8_t* centre = pixels + row * cols + col;
        for (uint32_t i = 0; i < tests; ++i) {
            const uint32_t k = (first + i) & 7;
            if (is_object(centre[ring_offset[k]])) return static_cast<int32_t>(k);
        }
        return -1;
    }
    void rows_around(uint32_t row, uint32_t col, const uint8_t*& up, const uint8_t*& mid, const uint8_t*& down) const {
        mid = pixels + row * cols + col;
        up = mid - cols;
        down = mid + cols;
    }
};

template <typename Image>
inline uint8_t pattern_at(const Image& image, uint32_t row, uint32_t col) {
    const uint8_t *up, *mid, *down;
    image.rows_around(row, col, up, mid, down);
    return static_cast<uint8_t>((is_object(up[-1]) << 7) | (is_object(up[0]) << 6) | (is_object(up[1]) << 5) |
                                (is_object(mid[-1]) << 4) | (is_object(mid[1]) << 3) |
                                (is_object(down[-1]) << 2) | (is_object(down[0]) << 1) |
                                static_cast<int>(is_object(down[1])));
}

template <typename Image>
inline bool single_island_at(const Image& image, uint32_t row, uint32_t col) {
    return is_object(image.at(row, col)) && pattern_at(image, row, col) == 0;
}

// Ring index of the next contour pixel seen from (row, col) after a move in
// `state`, or -1 when no neighbour is object.
template <typename Image>
inline int32_t next_move(const Image& image, uint32_t row, uint32_t col, uint32_t state) {
    if (state >= kFirstRingIndex.size() || kFirstRingIndex[state] == 0xFF) return -1;
    return image.first_object_neighbour(row, col, kFirstRingIndex[state], is_diagonal_state(state) ? 7 : 6);
}

// Contour tracing (see extract_contour).
template <typename Image>
void trace_contour(const Image& image, uint32_t row, uint32_t col, uint32_t state, uint32_t capacity, uint8_t* codes,
                   uint32_t* count) {
    if (*count >= capacity) return;
    codes[(*count)++] = kNoMove;
    image.at(row, col) = kTraced;

    int32_t k = next_move(image, row, col, state);
    if (k < 0) return;  // an isolated pixel: the contour is the single null move
    const uint32_t first_row = row + static_cast<uint32_t>(kRingDr[k]);
    const uint32_t first_col = col + static_cast<uint32_t>(kRingDc[k]);
    const uint8_t first_state = kRingState[k];

    uint32_t r = first_row, c = first_col;
    uint8_t s = first_state;
    uint8_t code = kRingCode[k];
    for (;;) {
        if (*count >= capacity) return;
        codes[(*count)++] = code;
        image.at(r, c) = kTraced;
        if (*count >= capacity) return;  // cut short: the buffer is full
        k = next_move(image, r, c, s);
        if (k < 0) return;
        const uint32_t nr = r + static_cast<uint32_t>(kRingDr[k]);
        const uint32_t nc = c + static_cast<uint32_t>(kRingDc[k]);
        const uint8_t ns = kRingState[k];
        if (nr == first_row && nc == first_col && ns == first_state) {
            --*count;  // drop the move back into the start pixel
            return;
        }
        r = nr;
        c = nc;
        s = ns;
        code = kRingCode[k];
    }
}

inline void apply_code(uint8_t code, uint32_t& row, uint32_t& col) {
    row += static_cast<uint32_t>(static_cast<int32_t>(code & 3) - 1);
    col += static_cast<uint32_t>(static_cast<int32_t>((code >> 2) & 3) - 1);
}

struct ContourRecord {
    uint32_t offset;     // first code in the shared code buffer
    uint32_t length;     // number of codes (32 bits: long contours must not wrap)
    uint32_t row;        // start pixel
    uint32_t col;
    uint8_t state;       // start state of the tracer
    bool finished;
};

// The contour records of one call; the newest record is the front of the list.
class ContourList {
public:
    ~ContourList() { std::free(records_); }
    bool push(const ContourRecord& r) {
        if (size_ == capacity_) {
            const size_t grown = capacity_ ? capacity_ * 2 : 64;
            auto* p = static_cast<ContourRecord*>(std::realloc(records_, grown * sizeof(ContourRecord)));
            if (!p) return false;
            records_ = p;
            capacity_ = grown;
        }
        records_[size_++] = r;
        return true;
    }
    size_t size() const { return size_; }
    // i-th record from the front (newest first).
    ContourRecord& from_front(size_t i) { return records_[size_ - 1 - i]; }

private:
    ContourRecord* records_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

template <typename Image>
void trace(const Image& image, ContourRecord& rec, uint32_t capacity, uint8_t* codes, uint32_t* count) {
    rec.offset = *count;
    trace_contour(image, rec.row, rec.col, rec.state, capacity, codes, count);
    rec.length = *count - rec.offset;
}

// Judging walk: each contour pixel is judged on its pattern, and the verdict
// is carried out two steps later, so that a pattern still sees the two
// contour pixels before it as marked. Returns the number of deletions.
template <typename Image>
int32_t judge_contour(const Image& image, const ContourRecord& rec, const uint8_t* codes) {
    struct Verdict {
        uint32_t row, col;
        uint8_t remove;
    };
    int32_t deleted = 0;
    auto carry_out = [&](const Verdict& v) {
        uint8_t& px = image.at(v.row, v.col);
        const uint8_t kept = px == kTraced ? kObject : px;
        px = v.remove ? kBackground : kept;
        deleted += v.remove;
    };
    // The verdicts of the two pixels before the current one, older first.
    Verdict older{}, newer{};
    uint32_t row = rec.row, col = rec.col;
    for (uint32_t k = 0; k < rec.length; ++k) {
        apply_code(codes[rec.offset + k], row, col);
        const Verdict current{row, col, kDeletionTable[pattern_at(image, row, col)]};
        if (k >= 2) carry_out(older);
        older = newer;
        newer = current;
    }
    if (rec.length >= 2) carry_out(older);
    if (rec.length >= 1) carry_out(newer);
    return deleted;
}

// Restoring walk: deleted pixels whose pattern would leave a gap go back.
// Returns the number restored.
template <typename Image>
int32_t restore_contour(const Image& image, const ContourRecord& rec, const uint8_t* codes) {
    int32_t restored = 0;
    uint32_t row = rec.row, col = rec.col;
    for (uint32_t k = 0; k < rec.length; ++k) {
        apply_code(codes[rec.offset + k], row, col);
        uint8_t& px = image.at(row, col);
        if (px == kBackground && kRestorationTable[pattern_at(image, row, col)]) {
            px = kObject;
            ++restored;
        }
    }
    return restored;
}

// Looks for a new start next to a deleted pixel of the contour: its right,
// left, lower and upper neighbour in this order, skipping isolated pixels.
template <typename Image>
bool find_new_start(const Image& image, ContourRecord& rec, const uint8_t* codes) {
    struct Candidate {
        int32_t dr, dc;
        uint8_t state;
    };
    static constexpr Candidate kCandidates[4] = {{0, 1, 9}, {0, -1, 6}, {1, 0, 10}, {-1, 0, 5}};
    uint32_t row = rec.row, col = rec.col;
    for (uint32_t k = 0; k < rec.length; ++k) {
        apply_code(codes[rec.offset + k], row, col);
        if (image.at(row, col) != kBackground) continue;
        for (const Candidate& c : kCandidates) {
            const uint32_t r = row + static_cast<uint32_t>(c.dr);
            const uint32_t q = col + static_cast<uint32_t>(c.dc);
            if (is_object(image.at(r, q)) && !single_island_at(image, r, q)) {
                rec.row = r;
                rec.col = q;
                rec.state = c.state;
                return true;
            }
        }
    }
    return false;
}

// One judging pass over all unfinished records; returns the pass's deletions.
template <typename Image>
int64_t thinning_pass(const Image& image, ContourList& records, const uint8_t* codes) {
    int64_t pass_deleted = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        ContourRecord& rec = records.from_front(i);
        if (rec.finished) continue;
        if (rec.length == 0) {
            rec.finished = true;
            continue;
        }
        int32_t d = judge_contour(image, rec, codes);
        d -= restore_contour(image, rec, codes);
        if (d == 0 || !find_new_start(image, rec, codes)) rec.finished = true;
        pass_deleted += d;
    }
    return pass_deleted;
}

}  // namespace

uint8_t get_pattern(uint8_t* const* image, uint16_t row, uint16_t col) {
    return pattern_at(RowPointerImage{image}, row, col);
}

uint32_t is_single_island(uint8_t* const* image, uint16_t row, uint16_t col) {
    return single_island_at(RowPointerImage{image}, row, col) ? 1 : 0;
}

void extract_contour(uint8_t** image, uint32_t row, uint32_t col, uint32_t state, uint32_t capacity,
                     uint8_t* codes, uint32_t* count) {
    trace_contour(RowPointerImage{image}, row, col, state, capacity, codes, count);
}

bal_status bal_contour_thin_scale(uint8_t** image, uint32_t rows, uint32_t cols, uint32_t /*scale*/) {
    const uint64_t capacity64 = static_cast<uint64_t>(rows) * cols;
    if (capacity64 > UINT32_MAX) return BAL_NO_MEMORY;
    const uint32_t capacity = static_cast<uint32_t>(capacity64);
    // The code buffer and a contiguous working copy of the image, whose
    // neighbours lie at fixed distances; the result is copied back at the end.
    auto* codes = static_cast<uint8_t*>(std::malloc(capacity ? 2 * size_t{capacity} : 1));
    if (!codes) return BAL_NO_MEMORY;
    if (rows <= 3) {
        std::free(codes);
        return BAL_OK;
    }
    const FlatImage work(codes + capacity, cols);
    for (uint32_t y = 0; y < rows; ++y) std::memcpy(work.pixels + size_t{y} * cols, image[y], cols);

    ContourList records;
    uint32_t count = 0;

    // Seeding: left edges of objects on the even rows.
    if (cols >= 3) {
        const uint32_t x_end = 2 * ((cols - 3) / 2) + 2;
        for (uint32_t y = 2; y < rows - 1; y += 2) {
            const uint8_t* line = work.pixels + size_t{y} * cols;
            for (uint32_t x = 0; x < x_end; x += 2) {
                uint32_t start;
                if (line[x + 1] == kBackground && line[x + 2] == kObject)
                    start = x + 2;
                else if (line[x + 1] == kObject && line[x] == kBackground)
                    start = x + 1;
                else
                    continue;
                if (!records.push(ContourRecord{count, 0, y, start, 9, false})) {
                    std::free(codes);  // the caller's image is untouched
                    return BAL_NO_MEMORY;
                }
                trace(work, records.from_front(0), capacity, codes, &count);
            }
        }
    }

    // Every pass that goes on removes at least one object pixel for good, so
    // rows x cols passes bound the work even for contours that two records
    // trace twice.
    uint64_t passes_left = capacity64 + 1;
    while (thinning_pass(work, records, codes) != 0 && --passes_left != 0) {
        count = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            ContourRecord& rec = records.from_front(i);
            if (!rec.finished) trace(work, rec, capacity, codes, &count);
        }
    }
    for (uint32_t y = 0; y < rows; ++y) std::memcpy(image[y], work.pixels + size_t{y} * cols, cols);
    std::free(codes);
    return BAL_OK;
}

bal_status bal_contour_thin(uint8_t** image, uint32_t rows, uint32_t cols) {
    return bal_contour_thin_scale(image, rows, cols, 1);
}
