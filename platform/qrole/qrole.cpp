#include "qrole.h"

#include <ini.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

struct RoleData {
    std::map<std::string, std::string> userRole;
    std::map<std::string, std::string> userDescription;
    std::map<std::string, std::string> roleLevels;
};

std::mutex g_mutex;
RoleData g_data;

int OnEntry(void* user, const char* section, const char* key, const char* value) {
    auto* data = static_cast<RoleData*>(user);
    const std::string s = section;
    if (s == "Users")
        data->userRole.emplace(key, value);
    if (s == "Descriptions")
        data->userDescription.emplace(key, value);
    if (s == "Levels")
        data->roleLevels.emplace(key, value);
    return 1;
}

std::string LoggedInUser() {
    if (const char* env = std::getenv("NX_USER"); env && *env)
        return env;
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        return pw->pw_name;
    return {};
}

void CopyOut(char* out, const std::string& text) {
    if (!out)
        return;
    std::size_t n = text.size() < RBAC_TEXT_SIZE - 1 ? text.size() : RBAC_TEXT_SIZE - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::string Lookup(const std::map<std::string, std::string>& map, const std::string& key) {
    auto it = map.find(key);
    return it == map.end() ? std::string() : it->second;
}

}  // namespace

extern "C" int RBAC_Initialize(void) {
    RoleData fresh;
    const char* root = std::getenv("NXROOT");
    if (root)
        ini_parse((std::string(root) + "/cfg/rbac.ini").c_str(), OnEntry, &fresh);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_data = std::move(fresh);
    return 1;
}

extern "C" int AOJ_Initialize(void) {
    return 1;
}

extern "C" int RBAC_GetUserRoleDescription(char* userName, char* userDescription, int,
                                           char* roleName) {
    const std::string user = LoggedInUser();
    std::lock_guard<std::mutex> lock(g_mutex);
    const std::string role = Lookup(g_data.userRole, user);
    CopyOut(userName, user);
    CopyOut(userDescription, Lookup(g_data.userDescription, user));
    CopyOut(roleName, role);
    return role.empty() ? 0 : 1;
}

extern "C" int RBAC_GetRolePLevel(const char* roleName, int* levels) {
    if (!levels)
        return 0;
    levels[0] = levels[1] = levels[2] = 0;
    if (!roleName || !*roleName)
        return 0;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        text = Lookup(g_data.roleLevels, roleName);
    }
    if (text.empty())
        return 0;
    const char* p = text.c_str();
    for (int i = 0; i < 3 && *p; ++i) {
        char* end = nullptr;
        levels[i] = static_cast<int>(std::strtol(p, &end, 10));
        p = end;
        while (*p == ',' || *p == ' ')
            ++p;
    }
    return 1;
}
