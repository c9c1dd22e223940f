#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "qrole.h"

namespace {

class Role : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_root + "/cfg");
        std::ofstream(m_root + "/cfg/rbac.ini")
            << "[Users]\nop1 = Dispatcher\nop2 = NoLevels\n[Descriptions]\nop1 = Line 3 desk\n"
               "[Levels]\nDispatcher = 1, 3, 4\nPartial = 7\n";
        setenv("NXROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        std::filesystem::remove_all(m_root);
        unsetenv("NX_USER");
        unsetenv("NXROOT");
    }
    std::string m_root = "/tmp/nx-qrole-" + std::to_string(::getpid());
};

TEST_F(Role, TheLoggedInUsersRoleGivesThreeLevels) {
    setenv("NX_USER", "op1", 1);
    RBAC_Initialize();
    AOJ_Initialize();
    char user[RBAC_TEXT_SIZE], desc[RBAC_TEXT_SIZE], role[RBAC_TEXT_SIZE];
    EXPECT_EQ(RBAC_GetUserRoleDescription(user, desc, 0, role), 1);
    EXPECT_STREQ(user, "op1");
    EXPECT_STREQ(desc, "Line 3 desk");
    EXPECT_STREQ(role, "Dispatcher");
    int levels[3] = {9, 9, 9};
    EXPECT_EQ(RBAC_GetRolePLevel(role, levels), 1);
    EXPECT_EQ(levels[0], 1);
    EXPECT_EQ(levels[1], 3);
    EXPECT_EQ(levels[2], 4);
    EXPECT_EQ(RBAC_GetUserRoleDescription(nullptr, nullptr, 0, role), 1);
}

TEST_F(Role, UnknownUsersAndRolesHaveLevelZero) {
    setenv("NX_USER", "stranger", 1);
    RBAC_Initialize();
    char role[RBAC_TEXT_SIZE] = "junk";
    EXPECT_EQ(RBAC_GetUserRoleDescription(nullptr, nullptr, 0, role), 0);
    EXPECT_STREQ(role, "");
    int levels[3] = {9, 9, 9};
    EXPECT_EQ(RBAC_GetRolePLevel(role, levels), 0);
    EXPECT_EQ(levels[1], 0);
    EXPECT_EQ(RBAC_GetRolePLevel("NoLevels", levels), 0);
    EXPECT_EQ(RBAC_GetRolePLevel("Partial", levels), 1);
    EXPECT_EQ(levels[0], 7);
    EXPECT_EQ(levels[1], 0);
    EXPECT_EQ(RBAC_GetRolePLevel("Dispatcher", nullptr), 0);
}

TEST_F(Role, WithoutTheEnvironmentUserTheLoginNameIsUsed) {
    unsetenv("NX_USER");
    RBAC_Initialize();
    char user[RBAC_TEXT_SIZE] = "";
    RBAC_GetUserRoleDescription(user, nullptr, 0, nullptr);
    EXPECT_STRNE(user, "");
}

}  // namespace
