#include "CReadConf.h"

#include <ini.h>
#include <strings.h>

#include <cctype>
#include <cstdlib>

CReadConf::CReadConf(const std::string& path) {
    m_loaded = ini_parse(path.c_str(), &CReadConf::OnEntry, this) >= 0;
}

std::string CReadConf::KeyOf(const char* section, const char* key) {
    std::string k = std::string(section ? section : "") + '\n' + (key ? key : "");
    for (char& c : k)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
}

int CReadConf::OnEntry(void* self, const char* section, const char* key, const char* value) {
    auto* conf = static_cast<CReadConf*>(self);
    // The first occurrence of a key wins, as with the platform's profile reader.
    conf->m_values.emplace(KeyOf(section, key), value ? value : "");
    return 1;
}

std::string CReadConf::GetString(const char* section, const char* key,
                                 const char* defaultValue) const {
    auto it = m_values.find(KeyOf(section, key));
    if (it != m_values.end())
        return it->second;
    return defaultValue ? defaultValue : "";
}

long CReadConf::GetLong(const char* section, const char* key, const char* defaultValue) const {
    return std::strtol(GetString(section, key, defaultValue).c_str(), nullptr, 10);
}

bool CReadConf::GetBool(const char* section, const char* key, const char* defaultValue) const {
    const std::string v = GetString(section, key, defaultValue);
    static const char* const kTrue[] = {"true", "yes", "on"};
    for (const char* word : kTrue)
        if (strcasecmp(v.c_str(), word) == 0)
            return true;
    return std::strtol(v.c_str(), nullptr, 10) != 0;
}
