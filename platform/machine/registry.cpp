#include "registry.h"

namespace host {

const char* const SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services";

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool SameNarrowName(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (Fold(*a) != Fold(*b)) return false;
    return *a == *b;
}

bool NarrowNoCaseLess::operator()(const std::string& a, const std::string& b) const
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

bool SplitKeyPath(const char* path, std::vector<std::string>& names)
{
    if (!path) return true;
    if (path[0] == '\\') return false;
    std::string name;
    for (const char* c = path;; ++c) {
        if (*c == '\\' || *c == 0) {
            if (!name.empty()) names.push_back(name);
            name.clear();
            if (*c == 0) break;
        } else {
            name.push_back(*c);
        }
    }
    return true;
}

std::string ServiceKeyPath(const std::string& name) { return std::string(SERVICES_KEY) + "\\" + name; }

RegistryTree::RegistryTree()
{
    AddKey(SERVICES_KEY);
    AddKey("SOFTWARE");
}

RegistryKey& RegistryTree::AddKey(const std::string& path)
{
    std::vector<std::string> names;
    SplitKeyPath(path.c_str(), names);
    RegistryKey* key = &localMachine;
    for (const auto& name : names) key = &key->subkeys[name];
    return *key;
}

void RegistryTree::SetValue(const std::string& path, const std::string& name, const std::string& data)
{
    AddKey(path).values[name] = data;
}

bool RegistryTree::HasKey(const std::string& path) const
{
    std::vector<std::string> names;
    return SplitKeyPath(path.c_str(), names) && Find(names) != nullptr;
}

std::vector<std::string> RegistryTree::Subkeys(const std::string& path) const
{
    std::vector<std::string> names, subkeys;
    SplitKeyPath(path.c_str(), names);
    if (const RegistryKey* key = Find(names))
        for (const auto& entry : key->subkeys) subkeys.push_back(entry.first);
    return subkeys;
}

namespace {

// The key below `root` at the names, or null; for the tree and for a const tree alike.
template <typename Key>
Key* Walk(Key* root, const std::vector<std::string>& names)
{
    Key* key = root;
    for (const auto& name : names) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) return nullptr;
        key = &it->second;
    }
    return key;
}

}  // namespace

const RegistryKey* RegistryTree::Find(const std::vector<std::string>& names) const
{
    return Walk(&localMachine, names);
}

RegistryKey* RegistryTree::Find(const std::vector<std::string>& names) { return Walk(&localMachine, names); }

bool RegistryTree::RemoveTree(const std::vector<std::string>& names)
{
    if (names.empty()) return false;
    RegistryKey* parent = Find(std::vector<std::string>(names.begin(), names.end() - 1));
    return parent && parent->subkeys.erase(names.back()) != 0;
}

ServiceEntry& ServiceTable::Add(const std::string& name)
{
    ServiceEntry& entry = services[name];
    entry.name = name;
    registry.SetValue(ServiceKeyPath(name), "ImagePath", "system32\\drivers\\" + name + ".sys");
    return entry;
}

ServiceEntry* ServiceTable::Find(const std::string& name)
{
    auto it = services.find(name);
    return it == services.end() ? nullptr : &it->second;
}

void ServiceTable::Remove(const std::string& name)
{
    std::vector<std::string> names;
    SplitKeyPath(ServiceKeyPath(name).c_str(), names);
    registry.RemoveTree(names);
    services.erase(name);
}

}  // namespace host
