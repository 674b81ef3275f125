#pragma once

#include "directory/settings_store.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace telvora {

// A settings store held in memory, with the same transaction rules as the
// real one, a way to make a commit fail, and values of another type.
class TMemorySettingsStore : public TSettingsStore {
public:
    struct TValue {
        std::string Name;
        std::string Data;
        bool IsString = true;
    };
    // Keyed by the name with A..Z turned into a..z.
    using TValues = std::map<std::string, TValue>;

    bool OpenKey(std::string_view path) override;
    std::vector<std::string> ValueNames() const override;
    std::string ReadString(std::string_view name) const override;
    void WriteString(std::string_view name, std::string_view value) override;
    void DeleteKey(std::string_view path) override;
    bool CloseKey() override;

    // Committed content, for checks from outside a transaction.
    const TValues& Values(std::string_view path) const;
    std::optional<std::string> Value(std::string_view path, std::string_view name) const;

    // Puts a committed value that is not a string (as another program might).
    void PutNonString(std::string_view path, std::string_view name);
    // Puts a committed string value directly, bypassing any open transaction.
    void PutString(std::string_view path, std::string_view name, std::string_view data);

    // What Problem() reports from now on, as a store that refused its file would.
    void SetProblem(std::string problem) { m_problem = std::move(problem); }
    std::string Problem() const override { return m_problem; }

    // While set, every CloseKey with pending changes fails and drops them.
    void SetCommitFails(bool fails) { m_commitFails = fails; }
    int CommitCount() const { return m_commitCount; }

private:
    using TKeys = std::map<std::string, TValues>;

    static std::string KeyId(std::string_view path);
    static void Put(TValues& values, TValue value);
    static const TValue* Find(const TValues& values, std::string_view name);
    TKeys& Working();
    const TValues* OpenValues() const;

    TKeys m_committed;
    std::optional<TKeys> m_pending;
    std::optional<std::string> m_openKey;
    bool m_commitFails = false;
    std::string m_problem;
    int m_commitCount = 0;
};

} // namespace telvora
