// Session: a reference-counted list of typed contexts. Context 8 holds the
// keyed integer properties (configuration keys); a process-wide property list
// stands in for a missing session and backs up a session's own list.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"

struct zr_algorithm;

// Context ids in use.
enum zr_session_context_id : uint32_t {
    ZR_CONTEXT_PROPERTIES = 8,
    ZR_CONTEXT_ENROLLMENT = 9,
    ZR_CONTEXT_ALGORITHM = 11,
};

struct zr_session_context {
    uint32_t id;
    void* data;
    void (*destroy_data)(void* data);  // or none
    zr_session_context* next;
    zr_session_context* previous;
};

struct zr_session {
    uint32_t ref_count;
    zr_session_context* first;
    zr_session_context* last;
    uint32_t count;
    void (*destroy)(zr_session*);  // delete_session
};

struct zr_property_entry {
    zr_property_entry* next;
    zr_property_entry* previous;
    uint32_t disabled;
    char* name;
    int32_t value;
};

struct zr_property_list {
    zr_property_entry* first;
    zr_property_entry* last;
    uint32_t count;
};

// Size of the name field of a settings record (names are cut to 63 characters).
constexpr uint32_t ZR_SETTINGS_NAME_SIZE = 64;

struct zr_settings {
    char name[ZR_SETTINGS_NAME_SIZE];
    int32_t value;  // -1 for a disabled entry
};

zr_session* zr_session_create();
zr_session* zr_session_create_or_retain(zr_session* session);
zr_session* zr_session_retain(zr_session* session);
void zr_session_delete(zr_session* session);

[[nodiscard]] zr_status zr_session_set_context(zr_session* session, void* data, uint32_t id,
                                               void (*destroy_data)(void*));
void* zr_session_get_context(const zr_session* session, uint32_t id);
void zr_session_remove_context(zr_session* session, uint32_t id);
zr_algorithm* zr_session_get_algorithm(const zr_session* session);

// Properties; a missing session means the process-wide list.
[[nodiscard]] zr_status zr_session_set_int(zr_session* session, const char* key, int32_t value);
int32_t zr_session_get_int(const zr_session* session, const char* key, uint32_t default_value);
[[nodiscard]] zr_status zr_session_set_int_preserve(zr_session* session, const char* key, int32_t value);
void zr_session_clear_property(zr_session* session, const char* key);
void zr_session_clear_properties(zr_session* session);
// A new array of the session's own properties, most recently added first
// (freed by the caller with free()); ZR_BAD_ARGUMENT for a missing session or
// output, ZR_NO_MEMORY when out of memory.
[[nodiscard]] zr_status zr_session_get_settings(const zr_session* session, zr_settings** out_settings,
                                                uint32_t* out_count);

int32_t zr_session_get_sensor_size(const zr_session* session);
[[nodiscard]] zr_status zr_session_set_sensor_size_(zr_session* session, int32_t value);
int32_t zr_session_get_sensor_type(const zr_session* session);
[[nodiscard]] zr_status zr_session_set_sensor_type_(zr_session* session, int32_t value);
int32_t zr_session_get_360_state(const zr_session* session);
[[nodiscard]] zr_status zr_session_set_360_state_(zr_session* session, int32_t value);
int32_t zr_session_get_slice_rows(const zr_session* session);
[[nodiscard]] zr_status zr_session_set_slice_rows_(zr_session* session, int32_t value);

void delete_session(zr_session* session);
void delete_property_context(void* property_list);
