#include "umdf_com.h"

namespace fp_platform {
namespace {
std::atomic<long> g_live_objects{0};
}

long live_com_objects() { return g_live_objects.load(); }

ComObject::ComObject() { g_live_objects.fetch_add(1); }

ComObject::~ComObject() { g_live_objects.fetch_sub(1); }

}  // namespace fp_platform
