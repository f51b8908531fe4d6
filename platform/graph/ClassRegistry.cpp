#include "platform/graph/ClassRegistry.h"

#include <algorithm>
#include <cctype>

namespace kelo {

ClassRegistry::ClassRegistry(const ClassRegistry& other) {
    std::lock_guard lock(other.mutex_);
    factories_ = other.factories_;
}

std::string ClassRegistry::Normalise(std::string_view classId) {
    std::string key(classId);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return key;
}

void ClassRegistry::Register(std::string_view classId, Factory factory) {
    std::lock_guard lock(mutex_);
    factories_[Normalise(classId)] = std::move(factory);
}

void ClassRegistry::Unregister(std::string_view classId) {
    std::lock_guard lock(mutex_);
    factories_.erase(Normalise(classId));
}

bool ClassRegistry::IsRegistered(std::string_view classId) const {
    std::lock_guard lock(mutex_);
    return factories_.count(Normalise(classId)) != 0;
}

HRESULT ClassRegistry::CreateInstance(std::string_view classId, ComPtr* object) const {
    if (!object)
        return E_POINTER;
    object->reset();
    Factory factory;
    {
        std::lock_guard lock(mutex_);
        auto it = factories_.find(Normalise(classId));
        if (it == factories_.end())
            return REGDB_E_CLASSNOTREG;
        factory = it->second;
    }
    // The factory runs outside the lock: it may create other components itself.
    *object = factory();
    return *object ? S_OK : E_FAIL;
}

} // namespace kelo
