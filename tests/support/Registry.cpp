#include "Registry.h"

#include <stdexcept>

#include "framework/Handles.h"

namespace testing_support {

RegistryOverride::RegistryOverride(HKEY root, const std::string& subKey, const char* valueName, DWORD type,
                                   const std::vector<BYTE>& data)
    : root_(root), subKey_(subKey) {
    if (valueName) valueName_ = valueName;
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (::RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, &disposition) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot open registry key " + subKey);
    keyCreated_ = disposition == REG_CREATED_NEW_KEY;
    DWORD size = 0;
    if (::RegQueryValueExA(key, valueName, nullptr, &oldType_, nullptr, &size) == ERROR_SUCCESS) {
        hadValue_ = true;
        oldData_.resize(size);
        ::RegQueryValueExA(key, valueName, nullptr, &oldType_, oldData_.data(), &size);
        oldData_.resize(size);
    }
    const LONG set = ::RegSetValueExA(key, valueName, 0, type, data.data(), DWORD(data.size()));
    ::RegCloseKey(key);
    if (set != ERROR_SUCCESS) throw std::runtime_error("cannot write registry key " + subKey);
}

RegistryOverride RegistryOverride::Text(HKEY root, const std::string& subKey, const char* valueName,
                                        const std::string& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return RegistryOverride(root, subKey, valueName, REG_SZ, data);
}

RegistryOverride RegistryOverride::Dword(HKEY root, const std::string& subKey, const char* valueName, DWORD value) {
    std::vector<BYTE> data(sizeof value);
    memcpy(data.data(), &value, sizeof value);
    return RegistryOverride(root, subKey, valueName, REG_DWORD, data);
}

RegistryOverride::RegistryOverride(RegistryOverride&& other) noexcept
    : root_(other.root_),
      subKey_(std::move(other.subKey_)),
      valueName_(std::move(other.valueName_)),
      keyCreated_(other.keyCreated_),
      hadValue_(other.hadValue_),
      oldType_(other.oldType_),
      oldData_(std::move(other.oldData_)),
      active_(std::exchange(other.active_, false)) {}

RegistryOverride::~RegistryOverride() {
    if (!active_) return;
    if (keyCreated_) {
        ::RegDeleteKeyA(root_, subKey_.c_str());
        return;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    const char* name = valueName_ ? valueName_->c_str() : nullptr;
    if (hadValue_) ::RegSetValueExA(key, name, 0, oldType_, oldData_.data(), DWORD(oldData_.size()));
    else ::RegDeleteValueA(key, name);
    ::RegCloseKey(key);
}

RegistryKeyAbsence::RegistryKeyAbsence(HKEY root, const std::string& subKey) : root_(root), subKey_(subKey) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    existed_ = true;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name, type = 0, size = 0;
        if (::RegEnumValueA(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        Value value{std::string(name, nameLength), type, std::vector<BYTE>(size)};
        nameLength = sizeof name;
        ::RegEnumValueA(key, index, name, &nameLength, nullptr, &type, value.data.data(), &size);
        values_.push_back(std::move(value));
    }
    ::RegCloseKey(key);
    if (::RegDeleteKeyA(root, subKey.c_str()) != ERROR_SUCCESS)
        throw std::runtime_error("cannot remove registry key " + subKey);
}

RegistryKeyAbsence::~RegistryKeyAbsence() {
    if (!existed_) {
        ::RegDeleteKeyA(root_, subKey_.c_str());  // in case a test made it
        return;
    }
    HKEY key = nullptr;
    if (::RegCreateKeyExA(root_, subKey_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const Value& value : values_)
        ::RegSetValueExA(key, value.name.empty() ? nullptr : value.name.c_str(), 0, value.type, value.data.data(),
                         DWORD(value.data.size()));
    ::RegCloseKey(key);
}

}  // namespace testing_support
