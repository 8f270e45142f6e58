// The multi-template: the enrolled finger as an ordered list of instances
// (an id, a template and a list of metadata items each) plus a global list of
// metadata items, and its storage record "ZRMT" (template type 80).
//
// Record layout, multi-byte numbers big-endian:
//   head      "ZRMT" 0x00, u8 version (1, 2, 3; 3 written), u8 instance count
//             (version 3: 0xFF = read to the end; always written), u8 number
//             of global items
//   item      u8 tag, u16 length, length bytes
//   instance  u32 id, u8 item count, u8 template type, u16 (version 1) or u32
//             template size; the template bytes; the instance's items
//   order     versions 1, 2: head, instances, global items (bytes after them
//             ignored); version 3: head, global items, instances up to the end,
//             fewer than 10 bytes left, or a stored id 0xFFFFFFFF; everything
//             from there on must be 0xFF fill.
// An in-memory id 0xFFFFFFFF is stored as 0x80000000 and read back as
// 0xFFFFFFFF. The global item with tag 3 and length 4 carries the next
// instance id (1 without it).
//
// Limits the writer can store: 255 instances, 255 items a list, 65535 stored
// bytes a list (3 + length each item), tags 0..255. The adding operations
// refuse what would break them (ZR_UNHANDLED_INPUT), counting in the global
// list the tag-3 item that encoding may insert.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"
#include "objects/zr_storage_writer.h"
#include "objects/zr_template.h"

// Selects the global list where an operation takes an instance id; never an
// instance id itself.
inline constexpr uint32_t ZR_MT_GLOBAL = 0x80000000u;
// Global tag of the next instance id (u32, 4 bytes).
inline constexpr uint32_t ZR_MT_TAG_NEXT_ID = 3;
inline constexpr uint32_t ZR_MT_MAX_INSTANCES = 255;
inline constexpr uint32_t ZR_MT_MAX_ITEMS = 255;
inline constexpr uint32_t ZR_MT_MAX_LIST_BYTES = 65535;
inline constexpr uint32_t ZR_MT_MAX_TAG = 255;
inline constexpr uint32_t ZR_MT_ITEM_HEAD_SIZE = 3;

struct zr_mt_item {
    zr_mt_item* next;
    uint32_t tag;
    uint32_t length;
    uint8_t* data;  // owned copy; none when length is 0
};

struct zr_mt_instance {
    zr_mt_instance* next;
    uint32_t id;
    zr_template* tmpl;  // one reference held
    zr_mt_item* items;
};

struct zr_multitemplate {
    uint32_t count;
    zr_mt_instance* instances;  // in insertion order
    zr_mt_item* items;          // global list
    uint32_t next_id;
};

// --- record and instances ---

// Empty record with next id 1; none when out of memory.
zr_multitemplate* zr_multitemplate_create();
// Releases every template and frees everything; none is ignored.
void zr_multitemplate_delete(zr_multitemplate* mt);

// Appends an instance holding a new reference on tmpl; next id := id + 1.
// ZR_BAD_ARGUMENT for a missing record or template, a held id or
// ZR_MT_GLOBAL; ZR_UNHANDLED_INPUT when 255 instances are held; ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_multitemplate_add_instance(zr_multitemplate* mt, uint32_t id, zr_template* tmpl);
// As add_instance with an id of its own: the next id when it is greater
// (signed) than the greatest held id (-1 with none), else that id + 1. The id
// is written to out_id (optional) before anything is tested.
[[nodiscard]] zr_status zr_multitemplate_add_instance_no_tag(zr_multitemplate* mt, zr_template* tmpl,
                                                             uint32_t* out_id);
// Replaces the instance's template (new reference, old one released).
// ZR_BAD_ARGUMENT without template; ZR_NOT_FOUND without such instance.
[[nodiscard]] zr_status zr_multitemplate_update_instance(zr_multitemplate* mt, zr_template* tmpl, uint32_t id);
// Raises the next id past id first (signed), so that a removed id is never
// handed out again; then removes the instance. ZR_NOT_FOUND when absent.
[[nodiscard]] zr_status zr_multitemplate_remove_instance(zr_multitemplate* mt, int32_t id);
// As remove_instance; after a removal of the last id handed out (next id - 1)
// the next id becomes id again.
[[nodiscard]] zr_status zr_multitemplate_remove_instance_and_tag(zr_multitemplate* mt, int32_t id);
// Removes every instance; the next id and the global items stay.
[[nodiscard]] zr_status zr_multitemplate_remove_all_instances(zr_multitemplate* mt);
// The instance's template with a new reference, or none.
zr_template* zr_multitemplate_get_instance(const zr_multitemplate* mt, uint32_t id);
// The template at position index (0 or less gives the first) with a new
// reference and its id in out_id (optional); none past the end.
zr_template* zr_multitemplate_get_instance_for_index(const zr_multitemplate* mt, int32_t index, uint32_t* out_id);
// Number of instances; 0 for none.
uint32_t zr_multitemplate_get_nbr_of_instances(const zr_multitemplate* mt);
// Instance id iteration: ZR_MT_GLOBAL in gives the first id, else the id
// after the given one. 1 when an id was written, 0 at the end or when the
// given id is not held.
uint32_t zr_multitemplate_next_tag(const zr_multitemplate* mt, int32_t* id);

// --- metadata (id ZR_MT_GLOBAL selects the global list) ---

// A copy of the data becomes the new first item of the list. ZR_BAD_ARGUMENT
// for a missing record, missing data of a non-zero length or a tag already in
// the list; ZR_NOT_FOUND without such instance; ZR_UNHANDLED_INPUT for a tag
// above 255 or when the list would exceed 255 items or 65535 stored bytes
// (room for a tag-3 item counted in the global list); ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_multitemplate_add_metadata(zr_multitemplate* mt, uint32_t id, uint32_t tag,
                                                      const uint8_t* data, uint16_t length);
// Copies the source's item to the head of the destination's list. ZR_OK and
// no change when the source lacks it; ZR_NOT_FOUND when the destination lacks
// the instance; then as zr_multitemplate_add_metadata.
[[nodiscard]] zr_status zr_multitemplate_copy_metadata(const zr_multitemplate* source, zr_multitemplate* destination,
                                                       uint32_t id, uint32_t tag);
// The item's data (owned by the record) and length (optional); none and
// length 0 when absent.
const uint8_t* zr_multitemplate_get_metadata(const zr_multitemplate* mt, uint32_t id, uint32_t tag,
                                             uint16_t* out_length);
// Tag iteration: 0 in gives the first tag, else the tag after the given one.
// 1 when a tag was written, 0 at the end.
uint32_t zr_multitemplate_next_metadata(const zr_multitemplate* mt, uint32_t id, uint32_t* tag);
// ZR_NOT_FOUND when the list or the tag is absent.
[[nodiscard]] zr_status zr_multitemplate_remove_metadata(zr_multitemplate* mt, uint32_t id, uint32_t tag);

// --- codec ---

// Decodes a type-80 template into a new record. Instances are views into the
// source's bytes holding a reference on it when the source is not const, else
// own copies. ZR_BAD_ARGUMENT for missing arguments, ZR_UNHANDLED_INPUT for
// another type, ZR_WRONG_TYPE for any malformed record, ZR_NO_MEMORY. On
// failure *out is none and nothing is left behind.
[[nodiscard]] zr_status zr_multitemplate_decode(zr_template* tmpl, zr_multitemplate** out);
// Appends count items read from bytes[0..available) to the list (a repeated
// tag replaces the earlier item, at the end). Bytes consumed (0 for a count of
// 0), -1 for a malformed list, -2 when out of memory; the list may then hold
// the items read so far.
int64_t zr_multitemplate_decode_metadata(zr_mt_item** list, const uint8_t* bytes, uint8_t count,
                                         uint64_t available);
// Writes the record through the writer (reserve once with the exact size,
// then the pieces, then write(nullptr, 0)) and hands out a type-80 template
// over the writer's buffer. Before that, the tag-3 item is replaced: written
// at the head of the global list when the next id is above (signed) the
// greatest held id + 1 (at least 1), else left out; the record keeps it.
// ZR_BAD_ARGUMENT for missing arguments; ZR_UNHANDLED_INPUT, before reserving,
// for a list or record the format cannot hold; the first non-zero code of the
// writer's reserve or write is returned as it is, after the writer's buffer is
// released (the memory writer's are ZR_NO_MEMORY and ZR_FAILURE).
[[nodiscard]] zr_status zr_multitemplate_encode_to_storage(zr_multitemplate* mt, zr_template** out,
                                                           const zr_storage_writer* writer, void* context);
// zr_multitemplate_encode_to_storage with the heap writer.
[[nodiscard]] zr_status zr_multitemplate_encode(zr_multitemplate* mt, zr_template** out);
// Record size for the items as they stand (no tag-3 adjustment), in 64 bits.
uint64_t zr_multitemplate_encode_size(const zr_multitemplate* mt);
