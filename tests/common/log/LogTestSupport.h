#pragma once
#include <string>
#include <vector>

// A scratch folder tree removed at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& rel) const { return m_path + "/" + rel; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
void makeDirs(const std::string& path);
std::vector<std::string> lines(const std::string& text);

// Sets or unsets an environment variable for one scope.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value);
    ~EnvGuard();

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};
