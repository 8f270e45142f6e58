// Reference counting shared by every object record of the object and
// algorithm layers. A record begins with `uint32_t ref_count` and ends with
// `void (*destroy)(T*)`; the destroy function frees the record with all it owns.
#pragma once

#include <cstdint>

// Drops one reference and calls destroy(obj) when the count goes from 1 to 0.
// For the one counted record without a destroy function of its own, whose
// `_delete` frees it directly.
template <class T, class Destroy>
void zr_object_release(T* obj, Destroy destroy) {
    if (obj == nullptr) return;
    if (obj->ref_count-- == 1) destroy(obj);
}

// Counted objects: every record is counted, whatever its destroy function.
template <class T>
T* zr_object_retain(T* obj) {
    if (obj != nullptr) ++obj->ref_count;
    return obj;
}

template <class T>
void zr_object_delete(T* obj) {
    if (obj == nullptr) return;
    if (obj->ref_count-- == 1 && obj->destroy != nullptr) obj->destroy(obj);
}

// Objects that may be static (users, fingers, image masks): a record without
// destroy function lives for the whole process and is never counted.
template <class T>
T* zr_object_retain_unless_static(T* obj) {
    if (obj != nullptr && obj->destroy != nullptr) ++obj->ref_count;
    return obj;
}

template <class T>
void zr_object_delete_unless_static(T* obj) {
    if (obj == nullptr || obj->destroy == nullptr) return;
    zr_object_release(obj, obj->destroy);
}
