#include "platform/wine/wine_registry.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "platform/registry_buffers.h"
#include "platform/wine/posix_file.h"
#include "platform/wine/reg_file.h"
#include "platform/wine/wine_prefix.h"

namespace ssr {

namespace {

long ReadFailureCode(wine::IoError error) {
    switch (error) {
    case wine::IoError::AccessDenied: return kErrorAccessDenied;
    default: return kErrorBadDbFormat;
    }
}

long WriteFailureCode(wine::IoError error) {
    switch (error) {
    case wine::IoError::AccessDenied: return kErrorAccessDenied;
    case wine::IoError::NoSpace:
    case wine::IoError::TooLarge: return kErrorDiskFull;
    default: return kErrorWriteFault;
    }
}

}  // namespace

struct WinePrefixRegistry::State {
    using Node = wine::RegFile::Node;

    std::shared_ptr<const wine::Prefix> prefix;
    std::filesystem::path file_path;
    wine::WriteFaultHook fault;
    bool loaded = false;
    long load_error = kErrorSuccess;   // the store cannot be used while this is set
    std::unique_ptr<wine::RegFile> file;  // null: no system.reg, an empty registry
    wine::FileIdentity identity;
    // A handle whose key was deleted keeps its entry with a null node.
    std::map<RegHandle, Node*> handles;
    RegHandle next_handle = 0x1000;

    // Reads system.reg the first time the store is used; a missing file is an
    // empty registry (as for wineserver), an unreadable one fails every call.
    long Load() {
        if (loaded) return load_error;
        wine::ReadResult read = wine::ReadWholeFile(file_path);
        if (read.error == wine::IoError::NotFound) {
            loaded = true;
            return load_error = kErrorSuccess;
        }
        if (read.error != wine::IoError::None) return ReadFailureCode(read.error);  // try again next call
        loaded = true;
        identity = read.identity;
        file = wine::RegFile::Parse(std::move(read.bytes));
        return load_error = file ? kErrorSuccess : kErrorBadDbFormat;
    }

    // Replaces the parsed file with `fresh`, carrying open handles over by
    // their paths; handles whose key is gone now see it as deleted.
    void Adopt(std::unique_ptr<wine::RegFile> fresh, const wine::FileIdentity& fresh_identity) {
        for (auto& [handle, node] : handles) {
            if (!node || node->removed) {
                node = nullptr;
                continue;
            }
            node = fresh ? fresh->Find(fresh->root(), wine::RegFile::PathOf(node)) : nullptr;
        }
        file = std::move(fresh);
        identity = fresh_identity;
    }

    Node* Resolve(RegHandle key, long& error) {
        if ((error = Load()) != kErrorSuccess) return nullptr;
        if (key == kHkeyLocalMachine) {
            if (file) return file->root();
            error = kErrorFileNotFound;
            return nullptr;
        }
        const auto it = handles.find(key);
        if (it == handles.end()) {
            error = kErrorInvalidHandle;
            return nullptr;
        }
        if (it->second && it->second->removed) it->second = nullptr;
        if (!it->second) error = kErrorKeyDeleted;
        return it->second;
    }

    long Open(RegHandle root, TextView subkey, RegHandle* result) {
        if (!result) return kErrorInvalidParameter;
        *result = 0;
        long error = kErrorSuccess;
        Node* base = Resolve(root, error);
        if (!base) return error;
        Node* node = file->Find(base, subkey);
        if (!node) return kErrorFileNotFound;
        const RegHandle handle = next_handle;
        next_handle += 4;
        handles.emplace(handle, node);
        *result = handle;
        return kErrorSuccess;
    }

    // Asked once more just before the rename, so that neither a new file
    // nor a wineserver that started meanwhile is overwritten or overrides us.
    static bool StillCurrent(void* context) {
        auto* self = static_cast<State*>(context);
        const auto now = wine::IdentityOf(self->file_path);
        return now && *now == self->identity && !self->prefix->ServerRunning();
    }

    long DeleteTree(RegHandle root, TextView subkey);
};

long WinePrefixRegistry::State::DeleteTree(RegHandle root, TextView subkey) {
    long error = kErrorSuccess;
    if (!Resolve(root, error)) return error;
    if (!file) return kErrorFileNotFound;
    // The root itself, and the key that holds the entries, are never taken
    // away, whatever path leads to them: that would wipe every program's
    // record or the prefix's whole machine registry.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // A running wineserver holds the registry in memory and writes it out
        // later, over whatever we wrote.
        if (prefix->ServerRunning()) return kErrorSharingViolation;
        const auto now_identity = wine::IdentityOf(file_path);
        if (!now_identity) return kErrorFileNotFound;  // the file went away: nothing to delete from
        if (!(*now_identity == identity)) {
            wine::ReadResult read = wine::ReadWholeFile(file_path);
            if (read.error != wine::IoError::None) return ReadFailureCode(read.error);
            auto fresh = wine::RegFile::Parse(std::move(read.bytes));
            if (!fresh) return kErrorBadDbFormat;  // never write over what is no longer a registry
            Adopt(std::move(fresh), read.identity);
        }
        Node* base = Resolve(root, error);
        if (!base) return error;
        const auto parts = SplitPath(subkey);
        if (parts.empty()) return kErrorAccessDenied;
        Node* target = file->Find(base, subkey);
        if (!target) return kErrorFileNotFound;
        for (const Node* up = file->Find(file->root(), kUninstallKeyPath); up; up = up->parent)
            if (up == target) return kErrorAccessDenied;
        // A file the user made read-only says: leave it as it is.
        if ((identity.mode & 0222) == 0 || ::access(file_path.c_str(), W_OK) != 0) return kErrorAccessDenied;

        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const auto seconds = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
        const auto ticks = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100) +
                           116444736000000000ULL;
        std::string bytes = file->WithoutSubtree(target, seconds, ticks);
        // A system.reg that links elsewhere is replaced where it really lives.
        std::error_code ec;
        const std::filesystem::path real = std::filesystem::canonical(file_path, ec);
        const wine::ReplaceOutcome outcome =
            wine::ReplaceFile(ec ? file_path : real, bytes, identity, &StillCurrent, this, fault);
        if (outcome.result == wine::ReplaceResult::Stale) continue;  // changed under us: read again
        if (outcome.result == wine::ReplaceResult::Failed) return WriteFailureCode(outcome.error);

        const auto written = wine::IdentityOf(file_path);
        file->ApplyDeletion(target, std::move(bytes));
        // Should the new file be unreadable at once, the next deletion reads it afresh.
        identity = written ? *written : wine::FileIdentity{};
        return kErrorSuccess;
    }
    return kErrorWriteFault;  // the file kept changing under us
}

WinePrefixRegistry::WinePrefixRegistry(std::shared_ptr<const wine::Prefix> prefix, wine::WriteFaultHook fault)
    : m_state(std::make_unique<State>()) {
    m_state->prefix = std::move(prefix);
    m_state->file_path = m_state->prefix->path() / "system.reg";
    m_state->fault = std::move(fault);
}

WinePrefixRegistry::~WinePrefixRegistry() = default;

const wine::Prefix& WinePrefixRegistry::prefix() const { return *m_state->prefix; }

long WinePrefixRegistry::open_key_ex(RegHandle root, TextView subkey, std::uint32_t /*options*/,
                                     std::uint32_t access, RegHandle* result) {
    return m_state->Open(root, ViewPath(root, subkey, access, has_32bit_view()), result);
}

long WinePrefixRegistry::open_key(RegHandle root, TextView subkey, std::uint32_t view, RegHandle* result) {
    return m_state->Open(root, ViewPath(root, subkey, view, has_32bit_view()), result);
}

bool WinePrefixRegistry::has_32bit_view() const { return true; }

long WinePrefixRegistry::enum_key_ex(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                                     char16_t* class_text, std::uint32_t* class_length) {
    long error = kErrorSuccess;
    State::Node* node = m_state->Resolve(key, error);
    if (!node) return error;
    if (!name || !name_length) return kErrorInvalidParameter;
    if (index >= node->children.size()) return kErrorNoMoreItems;
    const State::Node& child = *node->children[index];
    return CopyEnumeratedKey(child.name, child.class_text, name, name_length, class_text, class_length);
}

long WinePrefixRegistry::query_value_ex(RegHandle key, TextView value_name, std::uint32_t* type, std::uint8_t* data,
                                        std::uint32_t* size) {
    if (key == kHkeyLocalMachine) return kErrorInvalidHandle;
    long error = kErrorSuccess;
    State::Node* node = m_state->Resolve(key, error);
    if (!node) return error;
    const wine::RegValue* value = m_state->file->FindValue(node, value_name);
    if (!value) return kErrorFileNotFound;
    return CopyValueData(value->type, value->data, type, data, size);
}

long WinePrefixRegistry::close_key(RegHandle key) {
    if (key == 0) return kErrorInvalidHandle;
    return m_state->handles.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

long WinePrefixRegistry::delete_tree(RegHandle root, TextView subkey, std::uint32_t view) {
    return m_state->DeleteTree(root, ViewPath(root, subkey, view, has_32bit_view()));
}

}  // namespace ssr
