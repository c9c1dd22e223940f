#pragma once
// Platform ini reader: one file, read once when the object is made. Each lookup names the
// section, the key and the default as text; a missing file, section or key gives the default.
// Section and key names compare without regard to case, as the platform's profile reader does.
#include <map>
#include <string>

class CReadConf {
public:
    explicit CReadConf(const std::string& path);

    bool IsLoaded() const { return m_loaded; }
    std::string GetString(const char* section, const char* key, const char* defaultValue) const;
    // Decimal number at the start of the value; text that is no number gives 0.
    long GetLong(const char* section, const char* key, const char* defaultValue) const;
    // 1/true/yes/on (any case) are true; other numbers are true when not 0.
    bool GetBool(const char* section, const char* key, const char* defaultValue) const;

private:
    static int OnEntry(void* self, const char* section, const char* key, const char* value);
    static std::string KeyOf(const char* section, const char* key);

    std::map<std::string, std::string> m_values;
    bool m_loaded = false;
};
