// Creation of components by class identifier. A registry maps the identifier strings (GUIDs in
// braces, upper case) to factories; "interfaces" are C++ abstract classes that a component
// implements, found with QueryInterface (a dynamic cast). Owning references are shared_ptrs.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/system/HResult.h"

namespace kelo {

// Every component created through a registry derives from this.
class ComObject {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() = default;
};

using ComPtr = std::shared_ptr<ComObject>;

// Returns the interface when the object implements it, else null (E_NOINTERFACE).
template <typename Interface>
std::shared_ptr<Interface> QueryInterface(const std::shared_ptr<ComObject>& object) {
    return std::dynamic_pointer_cast<Interface>(object);
}

inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

class ClassRegistry {
public:
    using Factory = std::function<ComPtr()>;

    ClassRegistry() = default;
    ClassRegistry(const ClassRegistry& other);
    ClassRegistry& operator=(const ClassRegistry&) = delete;

    // Identifiers are compared without regard to case.
    void Register(std::string_view classId, Factory factory);
    void Unregister(std::string_view classId);
    bool IsRegistered(std::string_view classId) const;

    // S_OK with the new object, REGDB_E_CLASSNOTREG for an unknown identifier, E_FAIL when the
    // factory made nothing. Thread-safe.
    [[nodiscard]] HRESULT CreateInstance(std::string_view classId, ComPtr* object) const;

    template <typename Interface>
    [[nodiscard]] HRESULT CreateInstance(std::string_view classId, std::shared_ptr<Interface>* out) const {
        ComPtr object;
        HRESULT hr = CreateInstance(classId, &object);
        if (FAILED(hr))
            return hr;
        *out = QueryInterface<Interface>(object);
        return *out ? S_OK : E_NOINTERFACE;
    }

private:
    static std::string Normalise(std::string_view classId);

    mutable std::mutex mutex_;
    std::map<std::string, Factory> factories_;
};

} // namespace kelo
