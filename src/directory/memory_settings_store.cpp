#include "directory/memory_settings_store.h"

#include "common/text_helpers.h"

namespace telvora {

namespace {

const TMemorySettingsStore::TValues kNoValues;

} // namespace

// Key paths are compared without regard to letter case, like value names.
std::string TMemorySettingsStore::KeyId(std::string_view path) {
    return LowerAscii(path);
}

void TMemorySettingsStore::Put(TValues& values, TValue value) {
    values.insert_or_assign(LowerAscii(value.Name), std::move(value));
}

const TMemorySettingsStore::TValue* TMemorySettingsStore::Find(const TValues& values,
                                                               std::string_view name) {
    const auto it = values.find(LowerAscii(name));
    return it == values.end() ? nullptr : &it->second;
}

TMemorySettingsStore::TKeys& TMemorySettingsStore::Working() {
    if (!m_pending) {
        m_pending = m_committed;
    }
    return *m_pending;
}

const TMemorySettingsStore::TValues* TMemorySettingsStore::OpenValues() const {
    if (!m_openKey) {
        return nullptr;
    }
    const TKeys& keys = m_pending ? *m_pending : m_committed;
    const auto it = keys.find(*m_openKey);
    return it == keys.end() ? nullptr : &it->second;
}

bool TMemorySettingsStore::OpenKey(std::string_view path) {
    m_openKey = KeyId(path);
    if (!OpenValues()) {
        Working()[*m_openKey];
    }
    return true;
}

std::vector<std::string> TMemorySettingsStore::ValueNames() const {
    std::vector<std::string> names;
    if (const TValues* values = OpenValues()) {
        for (const auto& [folded, v] : *values) {
            names.push_back(v.Name);
        }
    }
    return names;
}

std::string TMemorySettingsStore::ReadString(std::string_view name) const {
    if (const TValues* values = OpenValues()) {
        if (const TValue* v = Find(*values, name)) {
            return v->IsString ? v->Data : std::string();
        }
    }
    return {};
}

void TMemorySettingsStore::WriteString(std::string_view name, std::string_view value) {
    if (!m_openKey) {
        return;
    }
    Put(Working()[*m_openKey], TValue{std::string(name), std::string(value), true});
}

void TMemorySettingsStore::DeleteKey(std::string_view path) {
    Working().erase(KeyId(path));
}

bool TMemorySettingsStore::CloseKey() {
    m_openKey.reset();
    if (!m_pending) {
        return true;
    }
    std::optional<TKeys> pending = std::move(m_pending);
    m_pending.reset();
    if (m_commitFails) {
        return false;
    }
    m_committed = std::move(*pending);
    ++m_commitCount;
    return true;
}

const TMemorySettingsStore::TValues& TMemorySettingsStore::Values(std::string_view path) const {
    const auto it = m_committed.find(KeyId(path));
    return it == m_committed.end() ? kNoValues : it->second;
}

std::optional<std::string> TMemorySettingsStore::Value(std::string_view path,
                                                       std::string_view name) const {
    if (const TValue* v = Find(Values(path), name)) {
        return v->Data;
    }
    return std::nullopt;
}

void TMemorySettingsStore::PutNonString(std::string_view path, std::string_view name) {
    Put(m_committed[KeyId(path)], TValue{std::string(name), "\x01\x02", false});
}

void TMemorySettingsStore::PutString(std::string_view path, std::string_view name,
                                     std::string_view data) {
    Put(m_committed[KeyId(path)], TValue{std::string(name), std::string(data), true});
}

} // namespace telvora
