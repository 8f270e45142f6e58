#include "objects/zr_session.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_object.h"
#include "objects/zr_result.h"

namespace {

zr_property_list* g_process_properties = nullptr;

constexpr const char* kSensorSizeKey = "zr.algorithm.sensor_size";
constexpr const char* kSensorTypeKey = "zr.algorithm.sensor_type";
constexpr const char* k360StateKey = "zr.algorithm.360";
constexpr const char* kSliceRowsKey = "slice_rows";

zr_session_context* find_context(const zr_session* session, uint32_t id) {
    for (zr_session_context* c = session->first; c != nullptr; c = c->next) {
        if (c->id == id) return c;
    }
    return nullptr;
}

void unlink_context(zr_session* session, zr_session_context* context) {
    if (context->previous != nullptr) {
        context->previous->next = context->next;
    } else {
        session->first = context->next;
    }
    if (context->next != nullptr) {
        context->next->previous = context->previous;
    } else {
        session->last = context->previous;
    }
    --session->count;
}

void destroy_context(zr_session* session, zr_session_context* context) {
    unlink_context(session, context);
    if (context->destroy_data != nullptr) context->destroy_data(context->data);
    std::free(context);
}

zr_property_list* session_properties(const zr_session* session) {
    return static_cast<zr_property_list*>(zr_session_get_context(session, ZR_CONTEXT_PROPERTIES));
}

zr_property_entry* find_entry(const zr_property_list* list, const char* key) {
    if (list == nullptr) return nullptr;
    for (zr_property_entry* e = list->first; e != nullptr; e = e->next) {
        if (std::strcmp(e->name, key) == 0) return e;
    }
    return nullptr;
}

void unlink_entry(zr_property_list* list, zr_property_entry* entry) {
    if (entry->previous != nullptr) {
        entry->previous->next = entry->next;
    } else {
        list->first = entry->next;
    }
    if (entry->next != nullptr) {
        entry->next->previous = entry->previous;
    } else {
        list->last = entry->previous;
    }
    --list->count;
}

void free_entry(zr_property_entry* entry) {
    std::free(entry->name);
    std::free(entry);
}

// The list a setter writes to, created on first use; none when out of memory.
zr_status target_list(zr_session* session, zr_property_list** out_list) {
    zr_property_list* list = session ? session_properties(session) : g_process_properties;
    if (list == nullptr) {
        list = static_cast<zr_property_list*>(std::calloc(1, sizeof(zr_property_list)));
        if (list == nullptr) return ZR_NO_MEMORY;
        if (session == nullptr) {
            g_process_properties = list;
        } else {
            const zr_status status =
                zr_session_set_context(session, list, ZR_CONTEXT_PROPERTIES, delete_property_context);
            if (status != ZR_OK) {
                std::free(list);
                return status;
            }
        }
    }
    *out_list = list;
    return ZR_OK;
}

// Looks the key up in one list: true when found (value or default in *value).
bool read_entry(const zr_property_list* list, const char* key, uint32_t default_value,
                int32_t* value) {
    const zr_property_entry* entry = find_entry(list, key);
    if (entry == nullptr) return false;
    *value = entry->disabled ? int32_t(default_value) : entry->value;
    return true;
}

}  // namespace

void delete_property_context(void* property_list) {
    auto* list = static_cast<zr_property_list*>(property_list);
    if (list == nullptr) return;
    zr_property_entry* entry = list->first;
    while (entry != nullptr) {
        zr_property_entry* next = entry->next;
        free_entry(entry);
        entry = next;
    }
    std::free(list);
}

void delete_session(zr_session* session) {
    while (session->first != nullptr) destroy_context(session, session->first);
    std::free(session);
}

zr_session* zr_session_create() {
    auto* session = static_cast<zr_session*>(std::calloc(1, sizeof(zr_session)));
    if (session == nullptr) return nullptr;
    session->ref_count = 1;
    session->destroy = delete_session;
    return session;
}

zr_session* zr_session_create_or_retain(zr_session* session) {
    if (session != nullptr) return zr_session_retain(session);
    return zr_session_create();
}

zr_session* zr_session_retain(zr_session* session) { return zr_object_retain(session); }

void zr_session_delete(zr_session* session) { zr_object_delete(session); }

zr_status zr_session_set_context(zr_session* session, void* data, uint32_t id,
                                 void (*destroy_data)(void*)) {
    if (session == nullptr) return ZR_OK;
    if (zr_session_context* old = find_context(session, id)) destroy_context(session, old);
    auto* context = static_cast<zr_session_context*>(std::calloc(1, sizeof(zr_session_context)));
    if (context == nullptr) return ZR_NO_MEMORY;
    context->id = id;
    context->data = data;
    context->destroy_data = destroy_data;
    context->next = session->first;
    if (session->first != nullptr) {
        session->first->previous = context;
    } else {
        session->last = context;
    }
    session->first = context;
    ++session->count;
    return ZR_OK;
}

void* zr_session_get_context(const zr_session* session, uint32_t id) {
    if (session == nullptr) return nullptr;
    const zr_session_context* context = find_context(session, id);
    return context ? context->data : nullptr;
}

void zr_session_remove_context(zr_session* session, uint32_t id) {
    if (session == nullptr) return;
    if (zr_session_context* context = find_context(session, id)) destroy_context(session, context);
}

zr_algorithm* zr_session_get_algorithm(const zr_session* session) {
    return static_cast<zr_algorithm*>(zr_session_get_context(session, ZR_CONTEXT_ALGORITHM));
}

zr_status zr_session_set_int(zr_session* session, const char* key, int32_t value) {
    if (key == nullptr) return ZR_BAD_ARGUMENT;
    zr_property_list* list = nullptr;
    const zr_status status = target_list(session, &list);
    if (status != ZR_OK) return status;
    if (zr_property_entry* entry = find_entry(list, key)) {
        if (entry->disabled) return ZR_WRONG_TYPE;
        entry->value = value;
        return ZR_OK;
    }
    auto* entry = static_cast<zr_property_entry*>(std::calloc(1, sizeof(zr_property_entry)));
    if (entry == nullptr) return ZR_NO_MEMORY;
    const size_t key_size = std::strlen(key) + 1;
    entry->name = static_cast<char*>(std::malloc(key_size));
    if (entry->name == nullptr) {
        std::free(entry);
        return ZR_NO_MEMORY;
    }
    std::memcpy(entry->name, key, key_size);
    entry->value = value;
    entry->next = list->first;
    if (list->first != nullptr) {
        list->first->previous = entry;
    } else {
        list->last = entry;
    }
    list->first = entry;
    ++list->count;
    return ZR_OK;
}

int32_t zr_session_get_int(const zr_session* session, const char* key, uint32_t default_value) {
    int32_t value = int32_t(default_value);
    if (key == nullptr) return value;
    if (session != nullptr && read_entry(session_properties(session), key, default_value, &value)) {
        return value;
    }
    read_entry(g_process_properties, key, default_value, &value);
    return value;
}

zr_status zr_session_set_int_preserve(zr_session* session, const char* key, int32_t value) {
    return zr_session_set_int(session, key, zr_session_get_int(session, key, uint32_t(value)));
}

void zr_session_clear_property(zr_session* session, const char* key) {
    if (key == nullptr) return;
    zr_property_list* list = session ? session_properties(session) : g_process_properties;
    if (zr_property_entry* entry = find_entry(list, key)) {
        unlink_entry(list, entry);
        free_entry(entry);
    }
}

void zr_session_clear_properties(zr_session* session) {
    if (session != nullptr) {
        if (session_properties(session) != nullptr) {
            zr_session_remove_context(session, ZR_CONTEXT_PROPERTIES);
        }
        return;
    }
    delete_property_context(g_process_properties);
    g_process_properties = nullptr;
}

zr_status zr_session_get_settings(const zr_session* session, zr_settings** out_settings,
                                  uint32_t* out_count) {
    if (out_settings != nullptr) *out_settings = nullptr;
    if (out_count != nullptr) *out_count = 0;
    if (session == nullptr || out_settings == nullptr || out_count == nullptr) {
        return ZR_BAD_ARGUMENT;
    }
    const zr_property_list* list = session_properties(session);
    const uint32_t count = list ? list->count : 0;
    // At least one record, so that an empty result is still a valid allocation.
    auto* settings = static_cast<zr_settings*>(
        std::calloc(count != 0 ? count : 1, sizeof(zr_settings)));
    if (settings == nullptr) return ZR_NO_MEMORY;
    uint32_t i = 0;
    for (const zr_property_entry* e = list ? list->first : nullptr; e != nullptr && i < count;
         e = e->next, ++i) {
        // Longer keys are cut to the record's 63 characters and a NUL.
        std::strncpy(settings[i].name, e->name, ZR_SETTINGS_NAME_SIZE - 1);
        settings[i].name[ZR_SETTINGS_NAME_SIZE - 1] = '\0';
        settings[i].value = e->disabled ? -1 : e->value;
    }
    *out_settings = settings;
    *out_count = i;
    return ZR_OK;
}

int32_t zr_session_get_sensor_size(const zr_session* session) {
    return zr_session_get_int(session, kSensorSizeKey, 0);
}

zr_status zr_session_set_sensor_size_(zr_session* session, int32_t value) {
    return zr_session_set_int(session, kSensorSizeKey, value);
}

int32_t zr_session_get_sensor_type(const zr_session* session) {
    return zr_session_get_int(session, kSensorTypeKey, 0);
}

zr_status zr_session_set_sensor_type_(zr_session* session, int32_t value) {
    return zr_session_set_int(session, kSensorTypeKey, value);
}

int32_t zr_session_get_360_state(const zr_session* session) {
    return zr_session_get_int(session, k360StateKey, 1);
}

zr_status zr_session_set_360_state_(zr_session* session, int32_t value) {
    return zr_session_set_int(session, k360StateKey, value);
}

int32_t zr_session_get_slice_rows(const zr_session* session) {
    return zr_session_get_int(session, kSliceRowsKey, 96);
}

zr_status zr_session_set_slice_rows_(zr_session* session, int32_t value) {
    return zr_session_set_int(session, kSliceRowsKey, value);
}
