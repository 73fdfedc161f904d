// Registry values and keys changed for the life of a test object, then put back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Sets a registry value for the life of the object, then puts back what was
// there (removing the value, and the key if it was made here).
class RegistryOverride {
public:
    RegistryOverride(HKEY root, const std::string& subKey, const char* valueName, DWORD type,
                     const std::vector<BYTE>& data);
    static RegistryOverride Text(HKEY root, const std::string& subKey, const char* valueName, const std::string& text);
    static RegistryOverride Dword(HKEY root, const std::string& subKey, const char* valueName, DWORD value);
    ~RegistryOverride();
    RegistryOverride(RegistryOverride&& other) noexcept;
    RegistryOverride(const RegistryOverride&) = delete;
    RegistryOverride& operator=(const RegistryOverride&) = delete;

private:
    HKEY root_;
    std::string subKey_;
    std::optional<std::string> valueName_;
    bool keyCreated_ = false;
    bool hadValue_ = false;
    DWORD oldType_ = 0;
    std::vector<BYTE> oldData_;
    bool active_ = true;
};

// Removes a registry key for the life of the object (it must have no sub-keys),
// then writes its values back.
class RegistryKeyAbsence {
public:
    RegistryKeyAbsence(HKEY root, const std::string& subKey);
    ~RegistryKeyAbsence();
    RegistryKeyAbsence(const RegistryKeyAbsence&) = delete;
    RegistryKeyAbsence& operator=(const RegistryKeyAbsence&) = delete;

private:
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    HKEY root_;
    std::string subKey_;
    bool existed_ = false;
    std::vector<Value> values_;
};

}  // namespace testing_support
