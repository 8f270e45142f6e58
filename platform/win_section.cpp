#include "win_section.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>


namespace fp_platform {
namespace {

struct SectionEntry {
    int open_handles = 0;
    bool created_here = false;
};

struct SectionRegistry {
    std::mutex mutex;
    std::string prefix;
    std::map<std::string, SectionEntry> sections;  // by shared-memory name
    std::map<const void*, size_t> views;           // mapped address -> length
};

SectionRegistry& registry()
{
    static SectionRegistry* instance = new SectionRegistry;  // outlives static destructors
    return *instance;
}

DWORD error_from_errno(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case ENOSPC:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case ENAMETOOLONG:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

class SectionObject final : public KernelObject {
public:
    SectionObject(std::string shm_name, int fd, bool writable)
        : shm_name_(std::move(shm_name)), fd_(fd), writable_(writable)
    {
    }

    ~SectionObject() override
    {
        ::close(fd_);
        SectionRegistry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.sections.find(shm_name_);
        if (it == reg.sections.end()) {
            return;
        }
        if (--it->second.open_handles == 0) {
            if (it->second.created_here) {
                ::shm_unlink(shm_name_.c_str());
            }
            reg.sections.erase(it);
        }
    }

    int fd() const { return fd_; }
    bool writable() const { return writable_; }

private:
    std::string shm_name_;
    int fd_;
    bool writable_;
};

// A section lives as long as a handle to it: when the process ends, the
// names it created and still holds go with it, as the system removes a
// section whose last handle is closed by the end of its process.
void unlink_held_sections()
{
    SectionRegistry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    for (const auto& [shm_name, entry] : reg.sections) {
        if (entry.created_here) {
            ::shm_unlink(shm_name.c_str());
        }
    }
}

// Called with the registry locked.
HANDLE register_handle(const std::string& shm_name, int fd, bool writable, bool created)
{
    if (created) {
        static const bool at_exit = std::atexit(unlink_held_sections) == 0;
        (void)at_exit;
    }
    SectionRegistry& reg = registry();
    SectionEntry& entry = reg.sections[shm_name];
    entry.open_handles += 1;
    entry.created_here = entry.created_here || created;
    return new SectionObject(shm_name, fd, writable);
}

}  // namespace

void set_section_name_prefix(const std::string& prefix)
{
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().prefix = prefix;
}

std::string section_name_prefix()
{
    std::lock_guard<std::mutex> lock(registry().mutex);
    return registry().prefix;
}

std::string section_shm_name(PCWSTR name)
{
    std::string result(1, '/');
    result += section_name_prefix();
    for (const char16_t* p = name; *p != 0; ++p) {
        const char16_t c = *p;
        const bool plain = c > 0x20 && c < 0x7F && c != u'/' && c != u'\\';
        result.push_back(plain ? static_cast<char>(c) : '_');
    }
    return result;
}

bool section_exists(PCWSTR name)
{
    const std::string shm_name = section_shm_name(name);
    const int fd = ::shm_open(shm_name.c_str(), O_RDONLY, 0);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace fp_platform

using fp_platform::registry;

HANDLE CreateFileMappingW(HANDLE file, void*, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, PCWSTR name)
{
    const bool page_file = file == INVALID_HANDLE_VALUE;
    const bool known_protect = protect == PAGE_READWRITE || protect == PAGE_READONLY;
    if (!page_file || !known_protect || name == nullptr || name[0] == 0 || maximumSizeHigh != 0 ||
        maximumSizeLow == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string shm_name = fp_platform::section_shm_name(name);
    std::lock_guard<std::mutex> lock(registry().mutex);
    bool created = true;
    int fd = ::shm_open(shm_name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::shm_open(shm_name.c_str(), O_RDWR, 0);
    }
    if (fd < 0) {
        SetLastError(fp_platform::error_from_errno(errno));
        return nullptr;
    }
    if (created && ::ftruncate(fd, static_cast<off_t>(maximumSizeLow)) != 0) {
        const DWORD error = fp_platform::error_from_errno(errno);
        ::close(fd);
        ::shm_unlink(shm_name.c_str());
        SetLastError(error);
        return nullptr;
    }
    HANDLE handle = fp_platform::register_handle(shm_name, fd, protect == PAGE_READWRITE, created);
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

HANDLE OpenFileMappingW(DWORD desiredAccess, BOOL, PCWSTR name)
{
    if (name == nullptr || name[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool writable = (desiredAccess & FILE_MAP_WRITE) != 0;
    const std::string shm_name = fp_platform::section_shm_name(name);
    std::lock_guard<std::mutex> lock(registry().mutex);
    const int fd = ::shm_open(shm_name.c_str(), writable ? O_RDWR : O_RDONLY, 0);
    if (fd < 0) {
        SetLastError(fp_platform::error_from_errno(errno));
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return fp_platform::register_handle(shm_name, fd, writable, false);
}

void* MapViewOfFile(HANDLE section, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                    SIZE_T bytesToMap)
{
    auto* object = dynamic_cast<fp_platform::SectionObject*>(fp_platform::object_of(section));
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const bool want_write = (desiredAccess & FILE_MAP_WRITE) != 0;
    if ((want_write && !object->writable()) || offsetHigh != 0 || offsetLow != 0) {
        SetLastError(want_write ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(object->fd(), &info) != 0) {
        SetLastError(fp_platform::error_from_errno(errno));
        return nullptr;
    }
    const auto section_size = static_cast<size_t>(info.st_size);
    const size_t length = bytesToMap == 0 ? section_size : bytesToMap;
    if (length == 0 || length > section_size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const int protection = want_write ? (PROT_READ | PROT_WRITE) : PROT_READ;
    void* view = ::mmap(nullptr, length, protection, MAP_SHARED, object->fd(), 0);
    if (view == MAP_FAILED) {
        SetLastError(fp_platform::error_from_errno(errno));
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().views[view] = length;
    SetLastError(ERROR_SUCCESS);
    return view;
}

BOOL UnmapViewOfFile(const void* baseAddress)
{
    size_t length = 0;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        auto it = registry().views.find(baseAddress);
        if (it == registry().views.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        length = it->second;
        registry().views.erase(it);
    }
    ::munmap(const_cast<void*>(baseAddress), length);
    return TRUE;
}
