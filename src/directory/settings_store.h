#pragma once

#include "common/text_helpers.h"

#include <string>
#include <string_view>
#include <vector>

namespace telvora {

// The per-user store of keys holding named string values that the host
// directory lives in. Value names are compared without regard to letter case.
//
// Changes (DeleteKey, WriteString) are pending until CloseKey, which makes all
// of them durable at once or none of them: the directory is rewritten by
// deleting its key and writing it anew, and a crash or a full disk between the
// two must not lose the whole directory.
class TSettingsStore {
public:
    virtual ~TSettingsStore() = default;

    // Opens the key, creating it if it is missing. False if the store cannot
    // hold such a key; nothing is open then.
    virtual bool OpenKey(std::string_view path) = 0;

    // Names of the values of the open key, in no particular order.
    virtual std::vector<std::string> ValueNames() const = 0;

    // The string value of that name; a missing value, or a value that is not
    // a string, reads as empty.
    virtual std::string ReadString(std::string_view name) const = 0;

    // Writes a string value, replacing one whose name differs only in letter
    // case (the new name's spelling is kept).
    virtual void WriteString(std::string_view name, std::string_view value) = 0;

    // Deletes the key with all its values.
    virtual void DeleteKey(std::string_view path) = 0;

    // The name with its letters in one case, as this store compares names:
    // equal results for names the store takes for one value, and the order in
    // which the host list is sorted. A..Z only unless a store folds more.
    virtual std::string FoldCase(std::string_view name) const { return LowerAscii(name); }

    // Makes the pending changes durable and closes the key. False when they
    // could not be written; the store then holds what it held before them.
    virtual bool CloseKey() = 0;

    // What was wrong with the store when the key was last opened (a file
    // refused, a value skipped), in words for the user naming where it
    // lives; empty when nothing was.
    virtual std::string Problem() const { return {}; }
};

} // namespace telvora
