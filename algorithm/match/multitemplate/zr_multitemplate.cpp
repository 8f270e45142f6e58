#include "match/multitemplate/zr_multitemplate.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_alloc.h"

namespace {

constexpr uint8_t kMagic[5] = {'Z', 'R', 'M', 'T', 0};
constexpr uint32_t kHeadSize = 8;
constexpr uint8_t kWrittenVersion = 3;
constexpr uint8_t kCountNotGiven = 0xFF;  // version 3: instances up to the end
constexpr uint32_t kInstanceHeadV1 = 8;
constexpr uint32_t kInstanceHead = 10;
constexpr uint32_t kStoredMinusOne = 0x80000000u;  // how id 0xFFFFFFFF is stored
constexpr uint32_t kFillId = 0xFFFFFFFFu;          // version 3: start of the fill
constexpr uint8_t kFillByte = 0xFF;
constexpr uint32_t kNextIdLength = 4;
constexpr uint64_t kMaxRecordSize = 0xFFFFFFFFu;

// --- byte order ---

uint16_t read_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

uint32_t read_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void put_be16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void put_be32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint32_t stored_id(uint32_t id) { return id == kFillId ? kStoredMinusOne : id; }
uint32_t memory_id(uint32_t stored) { return stored == kStoredMinusOne ? kFillId : stored; }

// --- items ---

zr_mt_item* item_create(uint32_t tag, const uint8_t* data, uint32_t length) {
    auto* item = static_cast<zr_mt_item*>(zr_calloc(1, sizeof(zr_mt_item)));
    if (item == nullptr) return nullptr;
    if (length != 0) {
        item->data = static_cast<uint8_t*>(zr_malloc(length));
        if (item->data == nullptr) {
            std::free(item);
            return nullptr;
        }
        std::memcpy(item->data, data, length);
    }
    item->tag = tag;
    item->length = length;
    return item;
}

void item_free(zr_mt_item* item) {
    std::free(item->data);
    std::free(item);
}

void items_free(zr_mt_item* list) {
    while (list != nullptr) {
        zr_mt_item* next = list->next;
        item_free(list);
        list = next;
    }
}

zr_mt_item* find_item(zr_mt_item* list, uint32_t tag) {
    for (; list != nullptr; list = list->next)
        if (list->tag == tag) return list;
    return nullptr;
}

// Unlinks and frees every item with the tag.
void remove_items(zr_mt_item** list, uint32_t tag) {
    while (*list != nullptr) {
        if ((*list)->tag == tag) {
            zr_mt_item* gone = *list;
            *list = gone->next;
            item_free(gone);
        } else {
            list = &(*list)->next;
        }
    }
}

uint64_t stored_item_size(uint64_t length) { return ZR_MT_ITEM_HEAD_SIZE + length; }

// What a list takes in storage.
struct list_usage {
    uint64_t items;
    uint64_t bytes;
};

list_usage usage_of(const zr_mt_item* list, bool skip_next_id) {
    list_usage usage{0, 0};
    for (; list != nullptr; list = list->next) {
        if (skip_next_id && list->tag == ZR_MT_TAG_NEXT_ID) continue;
        ++usage.items;
        usage.bytes += stored_item_size(list->length);
    }
    return usage;
}

bool fits_list_limits(const list_usage& usage) {
    return usage.items <= ZR_MT_MAX_ITEMS && usage.bytes <= ZR_MT_MAX_LIST_BYTES;
}

// Whether the list can take one more item of this tag and length. The global
// list keeps room for the 7-byte tag-3 item that encoding may put in.
bool can_add_item(const zr_mt_item* list, bool global, uint32_t tag, uint32_t length) {
    list_usage usage = usage_of(list, global);
    if (global) {
        const uint32_t next_id_length = tag == ZR_MT_TAG_NEXT_ID && length > kNextIdLength ? length : kNextIdLength;
        usage.items += 1;
        usage.bytes += stored_item_size(next_id_length);
        if (tag == ZR_MT_TAG_NEXT_ID) return fits_list_limits(usage);
    }
    usage.items += 1;
    usage.bytes += stored_item_size(length);
    return fits_list_limits(usage);
}

// --- instances ---

zr_mt_instance* find_instance(const zr_multitemplate* mt, uint32_t id) {
    for (zr_mt_instance* instance = mt->instances; instance != nullptr; instance = instance->next)
        if (instance->id == id) return instance;
    return nullptr;
}

void instance_free(zr_mt_instance* instance) {
    items_free(instance->items);
    zr_template_delete(instance->tmpl);
    std::free(instance);
}

// The list an id selects; none when the instance is absent.
zr_mt_item** list_for(zr_multitemplate* mt, uint32_t id) {
    if (id == ZR_MT_GLOBAL) return &mt->items;
    zr_mt_instance* instance = find_instance(mt, id);
    return instance ? &instance->items : nullptr;
}

const zr_mt_item* list_for(const zr_multitemplate* mt, uint32_t id) {
    if (id == ZR_MT_GLOBAL) return mt->items;
    const zr_mt_instance* instance = find_instance(mt, id);
    return instance ? instance->items : nullptr;
}

// Appends a new instance holding the template's reference as given.
zr_mt_instance* append_instance(zr_multitemplate* mt, uint32_t id) {
    auto* instance = static_cast<zr_mt_instance*>(zr_calloc(1, sizeof(zr_mt_instance)));
    if (instance == nullptr) return nullptr;
    instance->id = id;
    zr_mt_instance** tail = &mt->instances;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = instance;
    return instance;
}

// The greatest id held (signed); fallback when none is held.
int32_t greatest_id(const zr_multitemplate* mt, int32_t fallback) {
    int32_t greatest = fallback;
    for (const zr_mt_instance* instance = mt->instances; instance != nullptr; instance = instance->next)
        if (int32_t(instance->id) > greatest) greatest = int32_t(instance->id);
    return greatest;
}

zr_status unlink_instance(zr_multitemplate* mt, uint32_t id) {
    for (zr_mt_instance** link = &mt->instances; *link != nullptr; link = &(*link)->next) {
        if ((*link)->id != id) continue;
        zr_mt_instance* gone = *link;
        *link = gone->next;
        instance_free(gone);
        --mt->count;
        return ZR_OK;
    }
    return ZR_NOT_FOUND;
}

// --- decoding ---

// The source template's reference held by an in-place instance template.
void release_source(void* source) { zr_template_delete(static_cast<zr_template*>(source)); }

zr_template* instance_template(zr_template* source, uint32_t type, uint8_t* bytes, uint32_t size) {
    if (zr_template_get_mr_const(source)) return zr_template_create(type, bytes, size);
    zr_template_retain(source);
    zr_template* view = zr_template_create_mre(type, bytes, size, 0, release_source, source);
    if (view == nullptr) zr_template_delete(source);
    return view;
}

struct reader {
    uint8_t* data;
    uint64_t size;
    uint64_t pos;
    uint64_t left() const { return size - pos; }
};

bool all_fill(const reader& in) {
    for (uint64_t i = in.pos; i < in.size; ++i)
        if (in.data[i] != kFillByte) return false;
    return true;
}

// Decodes one instance at the reader's position. ZR_OK, ZR_WRONG_TYPE or
// ZR_NO_MEMORY.
zr_status decode_instance(zr_multitemplate* mt, zr_template* source, reader& in, uint32_t head_size) {
    const uint8_t* head = in.data + in.pos;
    const uint32_t id = memory_id(read_be32(head));
    const uint8_t item_count = head[4];
    const uint8_t type = head[5];
    const uint64_t size = head_size == kInstanceHeadV1 ? read_be16(head + 6) : read_be32(head + 6);
    in.pos += head_size;
    zr_mt_instance* instance = append_instance(mt, id);
    if (instance == nullptr) return ZR_NO_MEMORY;
    ++mt->count;
    if (size > in.left()) return ZR_WRONG_TYPE;
    instance->tmpl = instance_template(source, type, in.data + in.pos, uint32_t(size));
    if (instance->tmpl == nullptr) return ZR_NO_MEMORY;
    in.pos += size;
    const int64_t used = zr_multitemplate_decode_metadata(&instance->items, in.data + in.pos, item_count, in.left());
    if (used == -2) return ZR_NO_MEMORY;
    if (used < 0) return ZR_WRONG_TYPE;
    in.pos += uint64_t(used);
    return ZR_OK;
}

bool decode_global_items(zr_multitemplate* mt, reader& in, uint8_t count) {
    const int64_t used = zr_multitemplate_decode_metadata(&mt->items, in.data + in.pos, count, in.left());
    if (used < 0) return false;
    in.pos += uint64_t(used);
    return true;
}

uint32_t next_id_from_items(const zr_mt_item* items) {
    const zr_mt_item* item = find_item(const_cast<zr_mt_item*>(items), ZR_MT_TAG_NEXT_ID);
    if (item == nullptr || item->length != kNextIdLength) return 1;
    return read_be32(item->data);
}

zr_status decode_record(zr_multitemplate* mt, zr_template* source, reader& in, uint8_t version) {
    const uint8_t head_count = in.data[6];
    const uint8_t global_count = in.data[7];
    in.pos = kHeadSize;
    const uint32_t head_size = version == 1 ? kInstanceHeadV1 : kInstanceHead;
    if (version == 3 && !decode_global_items(mt, in, global_count)) return ZR_WRONG_TYPE;
    const uint32_t wanted = version == 3 && head_count == kCountNotGiven ? ZR_MT_MAX_INSTANCES : head_count;
    while (mt->count < wanted) {
        if (in.left() < head_size) {
            if (version == 3) break;
            return ZR_WRONG_TYPE;
        }
        if (version == 3 && read_be32(in.data + in.pos) == kFillId) break;
        const zr_status status = decode_instance(mt, source, in, head_size);
        if (status != ZR_OK) return status;
    }
    if (version == 3) {
        if (!all_fill(in)) return ZR_WRONG_TYPE;
        if (head_count != kCountNotGiven && head_count != mt->count) return ZR_WRONG_TYPE;
    } else if (!decode_global_items(mt, in, global_count)) {
        return ZR_WRONG_TYPE;
    }
    mt->next_id = next_id_from_items(mt->items);
    return ZR_OK;
}

// --- encoding ---

// Puts the tag-3 item in front of the global list when the next id is above
// every held id + 1 (signed, at least 1); any old one goes.
void refresh_next_id_item(zr_multitemplate* mt) {
    remove_items(&mt->items, ZR_MT_TAG_NEXT_ID);
    // Negative ids do not count: the greatest is taken from 0.
    const int64_t first_free = int64_t(greatest_id(mt, 0)) + 1;
    if (int64_t(int32_t(mt->next_id)) <= first_free) return;
    uint8_t value[kNextIdLength];
    put_be32(value, mt->next_id);
    zr_mt_item* item = item_create(ZR_MT_TAG_NEXT_ID, value, kNextIdLength);
    if (item == nullptr) return;  // the record is still valid without it
    item->next = mt->items;
    mt->items = item;
}

uint64_t list_size(const zr_mt_item* list) { return usage_of(list, false).bytes; }

// Every list within the limits of its count byte and 16-bit extent.
bool storable(const zr_multitemplate* mt) {
    if (mt->count > ZR_MT_MAX_INSTANCES || !fits_list_limits(usage_of(mt->items, false))) return false;
    for (const zr_mt_instance* instance = mt->instances; instance != nullptr; instance = instance->next)
        if (!fits_list_limits(usage_of(instance->items, false))) return false;
    return zr_multitemplate_encode_size(mt) <= kMaxRecordSize;
}

struct output {
    const zr_storage_writer* writer;
    void* context;
    bal_status status;

    void put(const uint8_t* bytes, uint32_t length) {
        if (status == BAL_OK) status = writer->write(context, bytes, length);
    }
};

void put_items(output& out, const zr_mt_item* list) {
    for (; list != nullptr; list = list->next) {
        uint8_t head[ZR_MT_ITEM_HEAD_SIZE];
        head[0] = uint8_t(list->tag);
        put_be16(head + 1, list->length);
        out.put(head, sizeof head);
        out.put(list->data, list->length);
    }
}

uint8_t low_byte(uint64_t v) { return uint8_t(v & 0xFF); }

void put_record(output& out, const zr_multitemplate* mt) {
    out.put(kMagic, sizeof kMagic);
    const uint8_t head[3] = {kWrittenVersion, kCountNotGiven, low_byte(usage_of(mt->items, false).items)};
    out.put(head, sizeof head);
    put_items(out, mt->items);
    for (const zr_mt_instance* instance = mt->instances; instance != nullptr; instance = instance->next) {
        uint8_t instance_head[kInstanceHead];
        put_be32(instance_head, stored_id(instance->id));
        instance_head[4] = low_byte(usage_of(instance->items, false).items);
        instance_head[5] = low_byte(zr_template_get_type(instance->tmpl));
        put_be32(instance_head + 6, zr_template_get_data_size(instance->tmpl));
        out.put(instance_head, sizeof instance_head);
        out.put(zr_template_get_data(instance->tmpl), zr_template_get_data_size(instance->tmpl));
        put_items(out, instance->items);
    }
    out.put(nullptr, 0);
}

}  // namespace

// --- record and instances ---

zr_multitemplate* zr_multitemplate_create() {
    auto* mt = static_cast<zr_multitemplate*>(zr_calloc(1, sizeof(zr_multitemplate)));
    if (mt != nullptr) mt->next_id = 1;
    return mt;
}

void zr_multitemplate_delete(zr_multitemplate* mt) {
    if (mt == nullptr) return;
    while (mt->instances != nullptr) {
        zr_mt_instance* next = mt->instances->next;
        instance_free(mt->instances);
        mt->instances = next;
    }
    items_free(mt->items);
    std::free(mt);
}

zr_status zr_multitemplate_add_instance(zr_multitemplate* mt, uint32_t id, zr_template* tmpl) {
    if (mt == nullptr || tmpl == nullptr || id == ZR_MT_GLOBAL || find_instance(mt, id) != nullptr)
        return ZR_BAD_ARGUMENT;
    if (mt->count >= ZR_MT_MAX_INSTANCES) return ZR_UNHANDLED_INPUT;
    zr_mt_instance* instance = append_instance(mt, id);
    if (instance == nullptr) return ZR_NO_MEMORY;
    instance->tmpl = zr_template_retain(tmpl);
    ++mt->count;
    mt->next_id = id + 1;
    return ZR_OK;
}

zr_status zr_multitemplate_add_instance_no_tag(zr_multitemplate* mt, zr_template* tmpl, uint32_t* out_id) {
    if (mt == nullptr) return ZR_BAD_ARGUMENT;
    const int32_t greatest = greatest_id(mt, -1);
    const uint32_t id = int32_t(mt->next_id) > greatest ? mt->next_id : uint32_t(greatest) + 1;
    if (out_id != nullptr) *out_id = id;
    return zr_multitemplate_add_instance(mt, id, tmpl);
}

zr_status zr_multitemplate_update_instance(zr_multitemplate* mt, zr_template* tmpl, uint32_t id) {
    if (mt == nullptr || tmpl == nullptr) return ZR_BAD_ARGUMENT;
    zr_mt_instance* instance = find_instance(mt, id);
    if (instance == nullptr) return ZR_NOT_FOUND;
    if (instance->tmpl == tmpl) return ZR_OK;
    zr_template_retain(tmpl);
    zr_template_delete(instance->tmpl);
    instance->tmpl = tmpl;
    return ZR_OK;
}

zr_status zr_multitemplate_remove_instance(zr_multitemplate* mt, int32_t id) {
    if (mt == nullptr) return ZR_BAD_ARGUMENT;
    if (int32_t(mt->next_id) <= id) mt->next_id = uint32_t(id) + 1;
    return unlink_instance(mt, uint32_t(id));
}

zr_status zr_multitemplate_remove_instance_and_tag(zr_multitemplate* mt, int32_t id) {
    const zr_status status = zr_multitemplate_remove_instance(mt, id);
    if (status == ZR_OK && uint32_t(id) == mt->next_id - 1) mt->next_id = uint32_t(id);
    return status;
}

zr_status zr_multitemplate_remove_all_instances(zr_multitemplate* mt) {
    if (mt == nullptr) return ZR_BAD_ARGUMENT;
    while (mt->instances != nullptr) {
        zr_mt_instance* next = mt->instances->next;
        instance_free(mt->instances);
        mt->instances = next;
    }
    mt->count = 0;
    return ZR_OK;
}

zr_template* zr_multitemplate_get_instance(const zr_multitemplate* mt, uint32_t id) {
    if (mt == nullptr) return nullptr;
    const zr_mt_instance* instance = find_instance(mt, id);
    return instance ? zr_template_retain(instance->tmpl) : nullptr;
}

zr_template* zr_multitemplate_get_instance_for_index(const zr_multitemplate* mt, int32_t index, uint32_t* out_id) {
    if (mt == nullptr) return nullptr;
    const zr_mt_instance* instance = mt->instances;
    for (int32_t i = 0; instance != nullptr && i < index; ++i) instance = instance->next;
    if (instance == nullptr) return nullptr;
    if (out_id != nullptr) *out_id = instance->id;
    return zr_template_retain(instance->tmpl);
}

uint32_t zr_multitemplate_get_nbr_of_instances(const zr_multitemplate* mt) { return mt ? mt->count : 0; }

uint32_t zr_multitemplate_next_tag(const zr_multitemplate* mt, int32_t* id) {
    if (mt == nullptr || id == nullptr) return 0;
    const zr_mt_instance* next = nullptr;
    if (uint32_t(*id) == ZR_MT_GLOBAL) {
        next = mt->instances;
    } else {
        const zr_mt_instance* current = find_instance(mt, uint32_t(*id));
        next = current ? current->next : nullptr;
    }
    if (next == nullptr) return 0;
    *id = int32_t(next->id);
    return 1;
}

// --- metadata ---

zr_status zr_multitemplate_add_metadata(zr_multitemplate* mt, uint32_t id, uint32_t tag, const uint8_t* data,
                                        uint16_t length) {
    if (mt == nullptr || (data == nullptr && length != 0)) return ZR_BAD_ARGUMENT;
    zr_mt_item** list = list_for(mt, id);
    if (list == nullptr) return ZR_NOT_FOUND;
    if (find_item(*list, tag) != nullptr) return ZR_BAD_ARGUMENT;
    if (tag > ZR_MT_MAX_TAG || !can_add_item(*list, id == ZR_MT_GLOBAL, tag, length)) return ZR_UNHANDLED_INPUT;
    zr_mt_item* item = item_create(tag, data, length);
    if (item == nullptr) return ZR_NO_MEMORY;
    item->next = *list;
    *list = item;
    return ZR_OK;
}

zr_status zr_multitemplate_copy_metadata(const zr_multitemplate* source, zr_multitemplate* destination, uint32_t id,
                                         uint32_t tag) {
    if (source == nullptr || destination == nullptr) return ZR_BAD_ARGUMENT;
    const zr_mt_item* item = find_item(const_cast<zr_mt_item*>(list_for(source, id)), tag);
    if (item == nullptr) return ZR_OK;
    // Items longer than 16 bits are never made, so the length fits.
    return zr_multitemplate_add_metadata(destination, id, tag, item->data, uint16_t(item->length));
}

const uint8_t* zr_multitemplate_get_metadata(const zr_multitemplate* mt, uint32_t id, uint32_t tag,
                                             uint16_t* out_length) {
    if (out_length != nullptr) *out_length = 0;
    if (mt == nullptr) return nullptr;
    const zr_mt_item* item = find_item(const_cast<zr_mt_item*>(list_for(mt, id)), tag);
    if (item == nullptr) return nullptr;
    if (out_length != nullptr) *out_length = uint16_t(item->length);
    return item->data;
}

uint32_t zr_multitemplate_next_metadata(const zr_multitemplate* mt, uint32_t id, uint32_t* tag) {
    if (mt == nullptr || tag == nullptr) return 0;
    zr_mt_item* list = const_cast<zr_mt_item*>(list_for(mt, id));
    const zr_mt_item* next = nullptr;
    if (*tag == 0) {
        next = list;
    } else {
        const zr_mt_item* current = find_item(list, *tag);
        next = current ? current->next : nullptr;
    }
    if (next == nullptr) return 0;
    *tag = next->tag;
    return 1;
}

zr_status zr_multitemplate_remove_metadata(zr_multitemplate* mt, uint32_t id, uint32_t tag) {
    if (mt == nullptr) return ZR_BAD_ARGUMENT;
    zr_mt_item** list = list_for(mt, id);
    if (list == nullptr || find_item(*list, tag) == nullptr) return ZR_NOT_FOUND;
    for (; *list != nullptr; list = &(*list)->next) {
        if ((*list)->tag != tag) continue;
        zr_mt_item* gone = *list;
        *list = gone->next;
        item_free(gone);
        break;
    }
    return ZR_OK;
}

// --- codec ---

int64_t zr_multitemplate_decode_metadata(zr_mt_item** list, const uint8_t* bytes, uint8_t count,
                                         uint64_t available) {
    if (count == 0) return 0;
    if (list == nullptr || bytes == nullptr || available < ZR_MT_ITEM_HEAD_SIZE) return -1;
    uint64_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t tag = bytes[pos];
        const uint32_t length = read_be16(bytes + pos + 1);
        const uint64_t end = pos + stored_item_size(length);
        // A list longer than the 16-bit extent cannot be read back by the
        // format's readers: it is malformed.
        if (end > available || end > ZR_MT_MAX_LIST_BYTES) return -1;
        zr_mt_item* item = item_create(tag, bytes + pos + ZR_MT_ITEM_HEAD_SIZE, length);
        if (item == nullptr) return -2;
        remove_items(list, tag);  // the later item of a repeated tag wins
        zr_mt_item** tail = list;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = item;
        pos = end;
        if (i + 1 < count && available - pos < ZR_MT_ITEM_HEAD_SIZE) return -1;
    }
    return int64_t(pos);
}

zr_status zr_multitemplate_decode(zr_template* tmpl, zr_multitemplate** out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = nullptr;
    if (tmpl == nullptr) return ZR_BAD_ARGUMENT;
    if (zr_template_get_type(tmpl) != ZR_TEMPLATE_MULTI) return ZR_UNHANDLED_INPUT;
    reader in{zr_template_get_data(tmpl), zr_template_get_data_size(tmpl), 0};
    if (in.data == nullptr || in.size < kHeadSize || std::memcmp(in.data, kMagic, sizeof kMagic) != 0)
        return ZR_WRONG_TYPE;
    const uint8_t version = in.data[5];
    if (version < 1 || version > 3) return ZR_WRONG_TYPE;
    zr_multitemplate* mt = zr_multitemplate_create();
    if (mt == nullptr) return ZR_NO_MEMORY;
    const zr_status status = decode_record(mt, tmpl, in, version);
    if (status != ZR_OK) {
        zr_multitemplate_delete(mt);
        return status;
    }
    *out = mt;
    return ZR_OK;
}

uint64_t zr_multitemplate_encode_size(const zr_multitemplate* mt) {
    if (mt == nullptr) return 0;
    uint64_t size = kHeadSize + list_size(mt->items);
    for (const zr_mt_instance* instance = mt->instances; instance != nullptr; instance = instance->next)
        size += kInstanceHead + uint64_t(zr_template_get_data_size(instance->tmpl)) + list_size(instance->items);
    return size;
}

zr_status zr_multitemplate_encode_to_storage(zr_multitemplate* mt, zr_template** out, const zr_storage_writer* writer,
                                             void* context) {
    if (out != nullptr) *out = nullptr;
    if (mt == nullptr || out == nullptr || writer == nullptr) return ZR_BAD_ARGUMENT;
    refresh_next_id_item(mt);
    if (!storable(mt)) return ZR_UNHANDLED_INPUT;
    const uint32_t size = uint32_t(zr_multitemplate_encode_size(mt));
    uint8_t* data = nullptr;
    int32_t is_const = 1;
    zr_release_fn release = nullptr;
    void* release_context = nullptr;
    output sink{writer, context, writer->reserve(context, size, &data, &is_const, &release, &release_context)};
    if (sink.status == BAL_OK) put_record(sink, mt);
    if (sink.status != BAL_OK) {
        if (release != nullptr) release(release_context);
        return static_cast<zr_status>(sink.status);  // the writer's own code, unconverted
    }
    zr_template* record = zr_template_create_mre(ZR_TEMPLATE_MULTI, data, size, uint32_t(is_const), release,
                                                 release_context);
    if (record == nullptr) {
        if (release != nullptr) release(release_context);
        return ZR_NO_MEMORY;
    }
    *out = record;
    return ZR_OK;
}

zr_status zr_multitemplate_encode(zr_multitemplate* mt, zr_template** out) {
    heap_buffer buffer{};
    return zr_multitemplate_encode_to_storage(mt, out, &heap_storage_writer, &buffer);
}
